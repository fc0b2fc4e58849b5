# The warnings every target of this project compiles with (link kiv_warnings
# privately); CMAKE_COMPILE_WARNING_AS_ERROR makes them errors. A narrowing
# or a change of sign is spelt out where it is meant, and a name never hides
# another.
add_library(kiv_warnings INTERFACE)
target_compile_options(kiv_warnings INTERFACE -Wall -Wextra -Wno-missing-field-initializers
                                              -Wshadow -Wconversion -Wsign-conversion)
