# Install rules (GNUInstallDirs layout) and the Debian package (CPack).
#   bin/                         backvault, backvault-cli
#   libexec/backvault/           tool, extract
#   share/backvault/             config.ini, Languages/, template/
#   share/man/man1/, share/bash-completion/completions/, share/applications/,
#   share/metainfo/, share/icons/hicolor/
# The programs find libexec/backvault and share/backvault relative to their own folder
# (src/platform/program_files.h), so the installed tree may be moved as a whole.

option(BV_INSTALL_MKBACKUP "Also install the developer tool mkbackup" OFF)

install(TARGETS backvault-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tool extract RUNTIME DESTINATION ${BV_INSTALL_HELPERDIR})
if(BV_INSTALL_MKBACKUP AND TARGET mkbackup)
  install(TARGETS mkbackup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION ${BV_INSTALL_DATADIR})
install(FILES ${BV_CLI_MAN}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${BV_CLI_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Paths the manual pages name: those of an install under /usr (the package's).
foreach(_d HELPERDIR DATADIR)
  if(IS_ABSOLUTE "${BV_INSTALL_${_d}}")
    set(BV_MAN_${_d} "${BV_INSTALL_${_d}}")
  else()
    set(BV_MAN_${_d} "/usr/${BV_INSTALL_${_d}}")
  endif()
endforeach()
file(RELATIVE_PATH BV_REL_HELPERDIR ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${BV_INSTALL_HELPERDIR})
file(RELATIVE_PATH BV_REL_DATADIR ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${BV_INSTALL_DATADIR})

# The desktop program's files. Its executable comes from src/app; without it (a build
# without the GUI) there is nothing for a menu entry to start.
set(BV_SCREENSHOT_BASE_URL "https://tarnwick.invalid/backvault/screenshots" CACHE STRING
    "Web folder that holds docs/screenshots/*.png, named in the AppStream metadata")
set(BV_DESKTOP_FILE ${CMAKE_SOURCE_DIR}/packaging/backvault.desktop)
set(BV_METAINFO ${BV_DOCS_DIR}/metainfo/com.tarnwick.backvault.metainfo.xml)
string(TIMESTAMP BV_RELEASE_DATE "%Y-%m-%d" UTC)  # honours SOURCE_DATE_EPOCH
configure_file(${CMAKE_SOURCE_DIR}/packaging/com.tarnwick.backvault.metainfo.xml.in
               ${BV_METAINFO} @ONLY)
set(BV_GUI_MAN ${BV_DOCS_DIR}/man/man1/backvault.1)
configure_file(${CMAKE_SOURCE_DIR}/packaging/backvault.1.in ${BV_GUI_MAN} @ONLY)

# The icon: the skin's own logo, drawn by the skin painter at each size of the theme.
set(BV_ICON_SIZES 16 24 32 48 64 128 256)
set(BV_ICONS "")
if(TARGET bv_skin_painter)
  foreach(_s ${BV_ICON_SIZES})
    set(_icon ${BV_DOCS_DIR}/icons/hicolor/${_s}x${_s}/apps/backvault.png)
    add_custom_command(
      OUTPUT ${_icon}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${BV_DOCS_DIR}/icons/hicolor/${_s}x${_s}/apps
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:bv_skin_painter>
              --icon ${_s} ${_icon}
      DEPENDS bv_skin_painter
      COMMENT "Drawing the ${_s}x${_s} icon"
      VERBATIM)
    list(APPEND BV_ICONS ${_icon})
  endforeach()
  add_custom_target(bv_icons ALL DEPENDS ${BV_ICONS})
  if(NOT BV_FUZZ AND NOT BV_SANITIZE)
    # Each icon has the size of its theme folder (a wrong scale would still be a PNG).
    set(_check "")
    foreach(_s ${BV_ICON_SIZES})
      string(APPEND _check "test \"$(identify -format %wx%h ${BV_DOCS_DIR}/icons/hicolor/${_s}x${_s}/apps/backvault.png)\" = ${_s}x${_s} || exit 1\n")
    endforeach()
    add_test(NAME package.icons COMMAND bash -c "${_check}")
  endif()
endif()

find_program(BV_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${BV_GUI_MAN}.gz
  COMMAND ${BV_GZIP} -9nkf ${BV_GUI_MAN}
  DEPENDS ${BV_GUI_MAN}
  VERBATIM)
add_custom_target(bv_gui_manual ALL DEPENDS ${BV_GUI_MAN}.gz)

if(TARGET backvault)
  install(TARGETS backvault RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${BV_GUI_MAN}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${BV_DESKTOP_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${BV_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(_s ${BV_ICON_SIZES})
    install(FILES ${BV_DOCS_DIR}/icons/hicolor/${_s}x${_s}/apps/backvault.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_s}x${_s}/apps)
  endforeach()
endif()

# --- the Debian package: make package -> build/backvault_<version>_<arch>.deb ---------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME backvault)
set(CPACK_PACKAGE_VENDOR Tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recover data from iPhone backups")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarnwick Backvault Pro gets a person's data back out of the iPhone backups that the\n"
    "phone-sync software keeps on a computer: photos and videos, messages and their\n"
    "attachments, contacts, call history, notes, WhatsApp chats and media, and deleted\n"
    "chat messages. It reads plain and encrypted backups and a phone connected by USB,\n"
    "and never changes a backup. backvault is the desktop program, backvault-cli the same\n"
    "engine on the command line.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(BV_PACKAGE_MAINTAINER "Tarnwick Backvault developers <backvault@tarnwick.invalid>" CACHE
    STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Shared libraries (and the web engine's helper process) are found by dpkg-shlibdeps; what
# is loaded at run time without being linked (Qt's platform plugins, GStreamer's elements,
# the fonts for Chinese text and emoji) is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(BV_RUNTIME_DEPENDS "")
if(TARGET backvault)
  list(APPEND BV_RUNTIME_DEPENDS qt6-qpa-plugins gstreamer1.0-plugins-good fonts-wqy-microhei
       fonts-noto-color-emoji)
endif()
string(REPLACE ";" ", " CPACK_DEBIAN_PACKAGE_DEPENDS "${BV_RUNTIME_DEPENDS}")
set(CPACK_STRIP_FILES ON)
include(CPack)

# make test: the package unpacked into a temporary root runs there; the desktop entry and
# the AppStream metadata validate (also while the desktop program is not part of the
# build, so they are checked before they ship).
if(NOT BV_FUZZ AND NOT BV_SANITIZE)
  add_test(NAME package.unpacked_install
           COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-package.sh ${CMAKE_BINARY_DIR}
                   ${CMAKE_CPACK_COMMAND})
  set_tests_properties(package.unpacked_install PROPERTIES TIMEOUT 300)
  # scripts/install-deps.sh installs both validators; a missing one fails its test.
  add_test(NAME package.desktop_entry COMMAND desktop-file-validate ${BV_DESKTOP_FILE})
  add_test(NAME package.metainfo COMMAND appstreamcli validate --no-net ${BV_METAINFO})
endif()
