# The Debian package, made by CPack from the install rules (the program, the desktop entry, the icons
# and the metainfo): `make package` builds it from the release preset into
# build/release/mello-parlo_<version>_<arch>.deb.
#
# Libraries the program links are found by dpkg-shlibdeps; what it only loads at run time is named
# here: the GStreamer plugins the player needs (the pulse sink and the MP4/AAC demuxing in -good,
# decoding in -libav) and libsecret, which QtKeychain opens for the Secret Service. A sound server is
# recommended; a Secret Service provider is suggested (without one the application runs, but cannot
# keep the account's session between starts), and so is Qt's Wayland platform plugin (without it a
# Wayland desktop runs the window through XWayland).

# The metainfo lists each release: a new version needs its entry there first.
file(READ ${PROJECT_SOURCE_DIR}/resources/com.fernwick.parlo.metainfo.xml PARLO_METAINFO)
string(FIND "${PARLO_METAINFO}" "<release version=\"${PROJECT_VERSION}\"" PARLO_RELEASE_ENTRY)
if(PARLO_RELEASE_ENTRY EQUAL -1)
  message(FATAL_ERROR "resources/com.fernwick.parlo.metainfo.xml has no <release> entry for ${PROJECT_VERSION}")
endif()

# `make package` builds exactly what the package holds; the install step must not build the tests
# and benchmarks of the release tree too.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mello-parlo)
set(CPACK_PACKAGE_VENDOR Fernwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "call recorder with transcripts and summaries")
# One string (CMake would take a semicolon for a list separator); a line "." separates paragraphs.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Mello Parlo records conversations held in any calling application: a meeting\n"
  "in a browser, Zoom or a softphone. It sits in the system tray, records what\n"
  "the computer plays and what the microphone hears (PulseAudio or PipeWire),\n"
  "mixes both into one AAC file and keeps every recording in a local library.\n"
  ".\n"
  "Recording starts by hand or by itself when a call begins. With a connected\n"
  "account every recording goes to the transcription service, whose summary\n"
  "and time-coded transcript are shown beside an audio player.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Mello Parlo developers <parlo@fernwick.com>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://parlo.fernwick.com/")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-good, gstreamer1.0-libav, libsecret-1-0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-keyring | kwalletmanager | keepassxc, qt6-wayland")

include(CPack)
