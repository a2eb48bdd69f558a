# Debian's hardening of the programs (fortified string and memory calls,
# stack protector and clash protection, control-flow protection, read-only
# relocations bound at load, position-independent executables), with the
# flags dpkg-buildflags gives a package build, so that the installed
# programs are built as Debian would build them. The build type still decides how far to optimise and whether
# to keep debugging information. Off under the sanitizers, which do the
# checking themselves and clash with fortified calls.
option(QUILVANE_HARDENING "Build with dpkg-buildflags' hardening flags" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(QUILVANE_HARDENING AND NOT QUILVANE_SANITIZE AND NOT QUILVANE_TSAN)
    if(NOT DPKG_BUILDFLAGS)
        message(FATAL_ERROR "dpkg-buildflags (package dpkg-dev) gives the hardening flags; "
            "or configure with -DQUILVANE_HARDENING=OFF")
    endif()
    set(ENV{DEB_BUILD_MAINT_OPTIONS} "hardening=+all")
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(COMMAND ${DPKG_BUILDFLAGS} --get ${kind} OUTPUT_VARIABLE flags
            WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
            OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags EXCLUDE REGEX "^-(O[0-9sg]?|g[0-9]?)$")
        if(kind STREQUAL LDFLAGS)
            add_link_options(${flags})
        else()
            add_compile_options(${flags})
        endif()
    endforeach()
    # What newer releases of dpkg-buildflags add as well: stack clash and
    # control-flow protection, where the compiler has them.
    include(CheckCXXCompilerFlag)
    foreach(flag -fstack-clash-protection -fcf-protection)
        string(MAKE_C_IDENTIFIER "HAS${flag}" known)
        check_cxx_compiler_flag(${flag} ${known})
        if(${known})
            add_compile_options(${flag})
        endif()
    endforeach()
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    include(CheckPIESupported)
    check_pie_supported()
endif()
