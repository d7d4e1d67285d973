// A server file that reaches up into the window: the layer check must refuse it.
#include "app/window/form_main.h"
