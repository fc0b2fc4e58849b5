# Checked builds of the host programs, each in a build tree of its own:
#   KIV_SANITIZE  AddressSanitizer and UndefinedBehaviorSanitizer on every
#                 host target; the whole test suite runs on them (make sanitize)
#   KIV_FUZZ      the same, plus libFuzzer coverage and the fuzz targets under
#                 fuzz/ (clang only; make fuzz)
# The guest programs are cross-built in a project of their own and never see
# these flags. Include before the host subdirectories: the options apply to
# targets created after them.
option(KIV_SANITIZE "Build the host programs with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(KIV_FUZZ "Build the libFuzzer targets (needs clang); implies the sanitizers" OFF)

if(KIV_SANITIZE OR KIV_FUZZ)
    set(kiv_sanitizers address,undefined)
    set(kiv_coverage $<$<BOOL:${KIV_FUZZ}>:-fsanitize=fuzzer-no-link>)
    add_compile_options(-fsanitize=${kiv_sanitizers} ${kiv_coverage} -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${kiv_sanitizers} -fno-sanitize-recover=all)
    # GCC's flow analysis sees the instrumentation and warns of uninitialised
    # values in the standard library's own headers.
    add_compile_options($<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)

    # The sanitizer runtimes cannot be linked into a fully static executable:
    # programs linked -static elsewhere are linked dynamically here (the
    # static Unicorn archive stays, as it is a library, not a link mode).
    function(kiv_drop_static_link directory)
        get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
        foreach(target IN LISTS targets)
            foreach(property IN ITEMS LINK_OPTIONS LINK_LIBRARIES)
                get_target_property(values ${target} ${property})
                if(values)
                    list(FILTER values EXCLUDE REGEX "^-static(-pie)?$")
                    set_property(TARGET ${target} PROPERTY ${property} "${values}")
                endif()
            endforeach()
        endforeach()
        get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
        foreach(subdirectory IN LISTS subdirectories)
            kiv_drop_static_link(${subdirectory})
        endforeach()
    endfunction()
    cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL kiv_drop_static_link ${PROJECT_SOURCE_DIR})
endif()
