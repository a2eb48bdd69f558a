# Everything the program reads beside its executable: the compiled default
# skin with its pictures, the language files and the help pages. A plain
# build leaves ${QUILVANE_APP_DIR} complete.

set(QUILVANE_ASSETS_DIR ${CMAKE_SOURCE_DIR}/assets)
set(QUILVANE_SKIN_OUT ${QUILVANE_APP_DIR}/skins/bin)

# The skin: skinc renders the SVG pictures to 16-bit BMP, each at the
# densities 1 (NAME.bmp), 1.5, 2, 3, 4 and 6 (NAME@1.5x.bmp ... NAME@6x.bmp),
# and writes the binary skin beside them. The loader reads the nearest
# density at or above the screen's scale and makes it smaller to fit.
file(GLOB_RECURSE skin_pictures CONFIGURE_DEPENDS ${QUILVANE_ASSETS_DIR}/skin/pictures/*.svg)
add_custom_command(
    OUTPUT ${QUILVANE_SKIN_OUT}/default.skin
    COMMAND skinc ${QUILVANE_ASSETS_DIR}/skin/default.txt ${QUILVANE_ASSETS_DIR}/skin/pictures ${QUILVANE_SKIN_OUT}
    DEPENDS skinc ${QUILVANE_ASSETS_DIR}/skin/default.txt ${skin_pictures}
    COMMENT "Compiling the default skin"
    VERBATIM)

# Language files are kept as UTF-8 text and written as UTF-16 LE with the
# byte-order mark, the form the program writes its own text files in.
find_program(QUILVANE_ICONV iconv REQUIRED)
set(language_outputs)
file(GLOB language_sources CONFIGURE_DEPENDS ${QUILVANE_ASSETS_DIR}/lang/*.txt)
foreach(source ${language_sources})
    get_filename_component(name ${source} NAME_WE)
    set(target ${QUILVANE_APP_DIR}/${name}.lng)
    add_custom_command(
        OUTPUT ${target}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILVANE_APP_DIR}
        COMMAND sh -c "printf '\\377\\376' > \"$1\" && \"$2\" -f UTF-8 -t UTF-16LE \"$3\" >> \"$1\" || { rm -f \"$1\"; exit 1; }"
            lng ${target} ${QUILVANE_ICONV} ${source}
        DEPENDS ${source}
        COMMENT "Writing ${name}.lng"
        VERBATIM)
    list(APPEND language_outputs ${target})
endforeach()

# Help pages sit beside the language files that name them ("Help_link").
set(help_outputs)
file(GLOB help_sources CONFIGURE_DEPENDS ${QUILVANE_ASSETS_DIR}/help/*.html)
foreach(source ${help_sources})
    get_filename_component(file ${source} NAME)
    add_custom_command(
        OUTPUT ${QUILVANE_APP_DIR}/${file}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${QUILVANE_APP_DIR}/${file}
        DEPENDS ${source}
        VERBATIM)
    list(APPEND help_outputs ${QUILVANE_APP_DIR}/${file})
endforeach()

add_custom_target(quilvane_assets ALL
    DEPENDS ${QUILVANE_SKIN_OUT}/default.skin ${language_outputs} ${help_outputs})

# Tests that read the compiled skin or the language files need them built
# first; the test targets are made after this file is included, so the
# dependency is added once the directory is processed.
function(quilvane_assets_link_tests)
    foreach(test_target test_skin test_screens)
        if(TARGET ${test_target})
            add_dependencies(${test_target} quilvane_assets)
        endif()
    endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL quilvane_assets_link_tests)

# The desktop's icon in the hicolor theme's sizes, rendered from the logo at
# build time; the SVG itself goes to scalable/apps.
find_program(QUILVANE_RSVG rsvg-convert REQUIRED)
set(QUILVANE_ICON_SVG ${QUILVANE_ASSETS_DIR}/skin/pictures/icons/logo.svg)
set(QUILVANE_ICON_SIZES 16 22 24 32 48 64 128 256)
set(QUILVANE_ICON_DIR ${CMAKE_BINARY_DIR}/icons/hicolor)
set(icon_outputs)
foreach(size ${QUILVANE_ICON_SIZES})
    set(icon ${QUILVANE_ICON_DIR}/${size}x${size}/apps/quilvane.png)
    add_custom_command(
        OUTPUT ${icon}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILVANE_ICON_DIR}/${size}x${size}/apps
        COMMAND ${QUILVANE_RSVG} -w ${size} -h ${size} -o ${icon} ${QUILVANE_ICON_SVG}
        DEPENDS ${QUILVANE_ICON_SVG}
        VERBATIM)
    list(APPEND icon_outputs ${icon})
endforeach()
add_custom_target(quilvane_icons ALL DEPENDS ${icon_outputs})

# What an installed program reads from <prefix>/share/quilvane: the same
# files a build leaves beside the executable (see base/Paths).
install(DIRECTORY ${QUILVANE_APP_DIR}/skins DESTINATION ${CMAKE_INSTALL_DATADIR}/quilvane)
install(FILES ${language_outputs} ${help_outputs} DESTINATION ${CMAKE_INSTALL_DATADIR}/quilvane)
install(DIRECTORY ${QUILVANE_ICON_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${QUILVANE_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    RENAME quilvane.svg)
install(FILES ${QUILVANE_ASSETS_DIR}/desktop/org.quilvane.quilvane.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QUILVANE_ASSETS_DIR}/desktop/org.quilvane.quilvane.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
