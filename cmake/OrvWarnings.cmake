# Warnings for every target of the project. ORV_WERROR (on in the test build and CI) makes them
# errors, so a new warning fails the build instead of scrolling by.
option(ORV_WERROR "Treat warnings as errors" OFF)
add_compile_options(-Wall -Wextra -Wpedantic)
if(ORV_WERROR)
  add_compile_options(-Werror)
endif()
