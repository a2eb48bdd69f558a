# The program's layers, bottom to top. Each is a folder of src/ and a static
# library linking the layers it uses, and each may include the headers of
# itself and of the layers below it only: its sources see src/ through a
# folder of links to exactly those layers, so an upward include is a missing
# file and fails the build. This is the one list of them; the tests, the
# benchmarks and the fuzzers take it from here.
#
#   core        wide strings: what even the platform layer needs
#   platform    the Linux layer: files, clock, threads, settings, window, fonts, PNG
#   base        paths, log, files, threads, settings, language, keys
#   imaging     JPEG codec, pixel buffers, pictures, pixel operations
#   skin        skin file, layout rules, fonts and text
#   display     display access layer (frame drivers, headless scripts)
#   widgets     the toolkit: elements, forms, lists, menus, the zoom view
#   thumbcache  cache files and the tile makers that read them
#   catalog     albums, the background search and cache building
#   screens     album list, thumbnails, viewer, main menu
#   shell       the application: window, message loop, screen stack, splash
set(QUILVANE_LAYERS core platform base imaging skin display widgets thumbcache catalog screens shell)
set(QUILVANE_USES_core "")
set(QUILVANE_USES_platform core)
set(QUILVANE_USES_base platform)
set(QUILVANE_USES_imaging base)
set(QUILVANE_USES_skin imaging)
set(QUILVANE_USES_display imaging)
set(QUILVANE_USES_widgets skin)
set(QUILVANE_USES_thumbcache imaging)
set(QUILVANE_USES_catalog thumbcache)
set(QUILVANE_USES_screens widgets catalog)
set(QUILVANE_USES_shell screens display)

# quilvane_layer_closure(LAYER OUT): LAYER and every layer below it that it
# may use, directly or through another.
function(quilvane_layer_closure layer out)
    set(result ${layer})
    foreach(used ${QUILVANE_USES_${layer}})
        quilvane_layer_closure(${used} below)
        list(APPEND result ${below})
    endforeach()
    list(REMOVE_DUPLICATES result)
    set(${out} ${result} PARENT_SCOPE)
endfunction()
