# The libraries the subsystems build on (the window and app add Qt Quick's), found once here so
# that their imported targets are seen in every folder.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Network DBus)
find_package(PkgConfig REQUIRED)
pkg_check_modules(RTMIDI REQUIRED IMPORTED_TARGET rtmidi)
if(TOVIK_PLATFORM STREQUAL "linux")
    pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
endif()
