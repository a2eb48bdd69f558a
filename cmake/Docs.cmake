# What the package puts in /usr/share/man and /usr/share/doc/quilvane: the
# manual pages (docs/man/*.scd, made into roff by scdoc), the Debian
# changelog made from the version, and the copyright file. Compressed as
# Debian policy asks (gzip -9n: no name or time in the header, so that the
# same sources give the same package).
set(QUILVANE_MAINTAINER "Quilvane maintainers <maintainers@quilvane.org>" CACHE STRING
    "The package's maintainer, as \"Name <address>\"")
set(QUILVANE_DEBIAN_REVISION 1 CACHE STRING "The Debian revision of the package's version")
set(QUILVANE_DEBIAN_VERSION ${PROJECT_VERSION}-${QUILVANE_DEBIAN_REVISION})

find_program(SCDOC scdoc REQUIRED)
find_program(GZIP gzip REQUIRED)
set(QUILVANE_DOC_DIR ${CMAKE_BINARY_DIR}/doc)

file(GLOB man_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/*.scd)
set(doc_outputs)
foreach(source ${man_sources})
    get_filename_component(page ${source} NAME_WLE) # quilvane.1
    set(roff ${QUILVANE_DOC_DIR}/man/${page})
    add_custom_command(OUTPUT ${roff}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILVANE_DOC_DIR}/man
        COMMAND sh -c "\"$0\" < \"$1\" > \"$2\"" ${SCDOC} ${source} ${roff}
        COMMAND ${GZIP} -9nf ${roff}
        DEPENDS ${source}
        VERBATIM)
    list(APPEND doc_outputs ${roff}.gz)
    list(APPEND man_pages ${roff}.gz)
endforeach()

# Dated by the last commit, so that a package made again from the same
# sources is the same; the configuration time where there is no history.
execute_process(COMMAND git log -1 --format=%cD WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE QUILVANE_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE no_history)
if(no_history OR NOT QUILVANE_CHANGELOG_DATE)
    string(TIMESTAMP QUILVANE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()
configure_file(${CMAKE_SOURCE_DIR}/docs/changelog.Debian.in ${QUILVANE_DOC_DIR}/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${QUILVANE_DOC_DIR}/changelog.Debian.gz
    COMMAND ${GZIP} -9nc ${QUILVANE_DOC_DIR}/changelog.Debian > ${QUILVANE_DOC_DIR}/changelog.Debian.gz
    DEPENDS ${QUILVANE_DOC_DIR}/changelog.Debian
    VERBATIM)
list(APPEND doc_outputs ${QUILVANE_DOC_DIR}/changelog.Debian.gz)
add_custom_target(quilvane_docs ALL DEPENDS ${doc_outputs})

install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${QUILVANE_DOC_DIR}/changelog.Debian.gz ${CMAKE_SOURCE_DIR}/docs/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quilvane)
install(FILES ${CMAKE_SOURCE_DIR}/docs/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
    RENAME quilvane)
