# The warnings every target of this project compiles with (link kiv_warnings
# privately); CMAKE_COMPILE_WARNING_AS_ERROR makes them errors.
add_library(kiv_warnings INTERFACE)
target_compile_options(kiv_warnings INTERFACE -Wall -Wextra -Wno-missing-field-initializers)
