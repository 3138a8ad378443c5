# `cpack -G DEB` in the build folder makes parlino_<version>_<arch>.deb from what `cmake --install`
# puts under the prefix. dpkg-shlibdeps finds the libraries the programs link; what they load by
# name at run time (the Qt platform plugin, the fonts, the sound theme) is listed by hand.
set(CPACK_PACKAGE_NAME parlino)
set(CPACK_PACKAGE_VENDOR "Parlino")
set(CPACK_PACKAGE_CONTACT "Parlino developers <parlino@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "On-device speech-to-text: record, transcribe and dictate")
set(CPACK_PACKAGE_DESCRIPTION "Parlino records speech in its window or dictates into any application, and \
transcribes it locally with an embedded Whisper-family engine, Auris. The package also holds the \
engine's command-line tools, auris-transcribe and make-model.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-qpa-plugins, qt6-wayland, fonts-inter, fonts-material-design-icons-iconfont, sound-theme-freedesktop")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
set(CPACK_GENERATOR DEB)
include(CPack)
