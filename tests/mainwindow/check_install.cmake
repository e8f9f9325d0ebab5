# Installs the build into PREFIX and checks that the window and its desktop
# files are where the desktop looks for them.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(path bin/kestrel
             share/applications/io.github.kestrel.Kestrel.desktop
             share/metainfo/io.github.kestrel.Kestrel.metainfo.xml
             share/icons/hicolor/16x16/apps/kestrel.png
             share/icons/hicolor/24x24/apps/kestrel.png
             share/icons/hicolor/32x32/apps/kestrel.png
             share/icons/hicolor/48x48/apps/kestrel.png
             share/icons/hicolor/64x64/apps/kestrel.png
             share/icons/hicolor/128x128/apps/kestrel.png
             share/icons/hicolor/256x256/apps/kestrel.png
             share/icons/hicolor/scalable/apps/kestrel.svg
             share/man/man1/kestrel.1
             bin/kestrel-scan
             share/man/man1/kestrel-scan.1)
    if(NOT EXISTS ${PREFIX}/${path})
        message(FATAL_ERROR "not installed: ${path}")
    endif()
endforeach()
