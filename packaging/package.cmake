# The Debian package: the program folder under /opt/korvela, the korvela, korvela-admin and
# korvela-review commands on the PATH, desktop entries with the notebook icon. `cpack -G DEB` in the
# build folder makes korvela_<version>_amd64.deb.

set(KORVELA_PACKAGE_VERSION "${PROJECT_VERSION}" CACHE STRING "Version of the Debian package")

install(TARGETS korvela RUNTIME DESTINATION opt/korvela COMPONENT deb)
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin\")
              file(CREATE_LINK /opt/korvela/korvela \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin/korvela\" SYMBOLIC)"
        COMPONENT deb)
install(FILES ${CMAKE_BINARY_DIR}/about.html DESTINATION opt/korvela COMPONENT deb)
install(FILES ${PROJECT_SOURCE_DIR}/data/schema.sql DESTINATION usr/share/korvela COMPONENT deb)
# The administrator's command beside the program (its program folder is the executable's), on the
# PATH, with its manual page; the server schema it builds in, for an administrator who reads it.
install(TARGETS korvela-admin RUNTIME DESTINATION opt/korvela COMPONENT deb)
install(CODE "file(CREATE_LINK /opt/korvela/korvela-admin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin/korvela-admin\" SYMBOLIC)"
        COMPONENT deb)
install(FILES ${KORVELA_ADMIN_MANPAGE} DESTINATION usr/share/man/man1 COMPONENT deb)
install(FILES ${PROJECT_SOURCE_DIR}/data/schema-postgresql.sql DESTINATION usr/share/korvela COMPONENT deb)
# Korvela 随访与统计 beside the program (it reads the same store), on the PATH, with its own entry.
install(TARGETS korvela-review RUNTIME DESTINATION opt/korvela COMPONENT deb)
install(CODE "file(CREATE_LINK /opt/korvela/korvela-review \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin/korvela-review\" SYMBOLIC)"
        COMPONENT deb)
# The pristine template; the install script puts it beside the program only when none is there.
add_custom_target(korvela_package_template ALL DEPENDS korvela_report_template)
install(FILES ${KORVELA_REPORT_TEMPLATE} DESTINATION usr/share/korvela COMPONENT deb)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/korvela.desktop ${PROJECT_SOURCE_DIR}/packaging/korvela-review.desktop
        DESTINATION usr/share/applications COMPONENT deb)
# The daily backup: korvela-admin backup as the system user korvela-backup (made by postinst).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/korvela-backup.service ${PROJECT_SOURCE_DIR}/packaging/korvela-backup.timer
        DESTINATION lib/systemd/system COMPONENT deb)

# The notebook icon in the hicolor theme, drawn by the program's own painter.
add_executable(make_icons ${PROJECT_SOURCE_DIR}/packaging/make_icons.cpp)
target_link_libraries(make_icons PRIVATE korvela_widgets Qt6::Gui)
set(KORVELA_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
add_custom_command(OUTPUT ${KORVELA_ICON_DIR}/korvela-16.png ${KORVELA_ICON_DIR}/korvela-32.png
                          ${KORVELA_ICON_DIR}/korvela-48.png
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVELA_ICON_DIR}
                   COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:make_icons> ${KORVELA_ICON_DIR}
                   DEPENDS make_icons)
add_custom_target(korvela_icons ALL DEPENDS ${KORVELA_ICON_DIR}/korvela-48.png)
foreach(size 16 32 48)
    install(FILES ${KORVELA_ICON_DIR}/korvela-${size}.png DESTINATION usr/share/icons/hicolor/${size}x${size}/apps
            RENAME korvela.png COMPONENT deb)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/korvela.svg DESTINATION usr/share/icons/hicolor/scalable/apps
        COMPONENT deb)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvela)
set(CPACK_PACKAGE_VERSION "${KORVELA_PACKAGE_VERSION}")
set(CPACK_PACKAGE_VENDOR "Korvela")
set(CPACK_PACKAGE_CONTACT "Korvela 开发组 <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Examination reports for a breast diagnosis department")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Korvela;deb;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "sqlite3, libqt6sql6-sqlite, qt6-translations-l10n, qt6-qpa-plugins, libreoffice-writer, libreoffice-l10n-zh-cn, fonts-noto-cjk, fonts-noto-cjk-extra, adduser, postgresql-client")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/postinst;${PROJECT_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
