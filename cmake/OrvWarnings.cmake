# Warnings for the project's own targets: orv_warnings(target).
add_compile_options(-Wall -Wextra -Wpedantic)
function(orv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()
