# The Debian package: `cpack -G DEB` in a build folder packs what `cmake --install` puts under
# /usr. Its dependencies are the Debian runtime packages: the shared libraries the programs
# link (found by dpkg-shlibdeps where it is installed, else the list below), Qt's platform
# plugins, which Qt loads at run time, and a font with Japanese and Chinese glyphs for the
# window's texts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnel)
set(CPACK_PACKAGE_VENDOR "Varnel developers")
set(CPACK_PACKAGE_CONTACT "Varnel developers <maintainers@varnel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "extract or remove one sound of a stereo recording by its stereo position")
# The long description, in lines short enough for package tools.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Varnel pulls one sound out of a finished stereo recording, or removes it, by\n"
  "where that sound sits in the stereo image: its pan position, its depth (the\n"
  "phase difference between the channels) and its frequency band.\n"
  "\n"
  "The desktop program shows the pan and depth maps of a 16-bit stereo WAV file\n"
  "while it plays; the area is drawn on them with the mouse, heard at once and\n"
  "saved as a new WAV file. varnel-cli runs the same engine without a window, for\n"
  "scripts and batch export, on WAV (up to 32-bit float), AIFF, FLAC, Ogg Vorbis,\n"
  "Opus and MP3 files at their own resolution.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(varnel_run_time_packages "qt6-qpa-plugins, fonts-noto-cjk")
# Qt's own texts in the file dialogs and standard buttons follow the desktop's language with
# these; without them they stay English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
find_program(VARNEL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VARNEL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${varnel_run_time_packages}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libqt6core6 (>= 6.2), \
libqt6gui6 (>= 6.2), libqt6widgets6 (>= 6.2), libsdl2-2.0-0, libsndfile1 (>= 1.1), \
${varnel_run_time_packages}")
endif()
include(CPack)
