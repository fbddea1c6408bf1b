# Installation (GNUInstallDirs) and the Debian package (CPack).
#
#   <prefix>/bin/                      Quadrix, QDXCapture and qdx, side by side: each finds the
#                                      others in its own folder
#   <prefix>/share/quadrix/            the help file (platform/core/AppFolder: dataFolder)
#   <prefix>/share/applications/       the desktop entries
#   <prefix>/share/icons/hicolor/      the icon, scalable and at the theme's fixed sizes
#   <prefix>/share/metainfo/           the AppStream description
#
# Installed programs keep config.ini and their work files in the user's own folder
# (~/.local/share/Quadrix), never in <prefix>/bin.
include(GNUInstallDirs)

install(TARGETS Quadrix QDXCapture qdx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES app/help/Quadrix.html DESTINATION ${CMAKE_INSTALL_DATADIR}/quadrix)
install(FILES app/desktop/quadrix.desktop app/desktop/qdxcapture.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES app/desktop/org.quadrix.Quadrix.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES app/resources/quadrix.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

add_subdirectory(tools/iconrender)
set(QDX_ICON_SIZES 16 22 24 32 48 64 128 256)
foreach(size IN LISTS QDX_ICON_SIZES)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/quadrix.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
        COMMAND qdx_iconrender ${PROJECT_SOURCE_DIR}/app/resources/quadrix.svg ${size} ${png}
        DEPENDS qdx_iconrender ${PROJECT_SOURCE_DIR}/app/resources/quadrix.svg
        VERBATIM)
    list(APPEND QDX_ICON_PNGS ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(quadrix_icons ALL DEPENDS ${QDX_ICON_PNGS})

# The Debian package: quadrix_<version>_<arch>.deb, its dependencies taken from the programs by
# dpkg-shlibdeps, plus what they load at run time and no linker sees: Qt's platform plugins and
# the SVG image plugin (windows, the icon), and libavformat (films with rare FourCCs).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quadrix)
set(CPACK_PACKAGE_VENDOR "Quadrix")
set(CPACK_PACKAGE_CONTACT "Quadrix developers <quadrix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Screen capture, pictures and AVI film tools")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Quadrix takes full-screen captures from a menu or a global hot key, saves pictures as BMP, "
    "GIF, JPEG or WMF, extracts icons, browses pictures as thumbnails and cuts, splits, joins and "
    "recompresses AVI films with their sound. QDXCapture records the screen into AVI films; qdx "
    "is the command-line front end.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libavformat59")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
include(CPack)
