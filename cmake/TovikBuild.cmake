# What every part of the build shares: the platform it builds for, the warnings, the mingw-w64
# compiler the Windows checks use, and how a subsystem becomes a library of its own. Read by the
# project and by the test builds that stand alone (tests/windows, tests/fuzz).
get_filename_component(TOVIK_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

# The one test of the platform; everything else asks TOVIK_PLATFORM.
if(WIN32)
    set(TOVIK_PLATFORM windows)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(TOVIK_PLATFORM linux)
else()
    message(FATAL_ERROR "Tovik Updater has platform layers for Windows and Linux only; "
                        "${CMAKE_SYSTEM_NAME} would need its own *_<platform>.cpp files.")
endif()

# The warning set, for our own targets only, not for Qt's generated code in other directories.
set(TOVIK_WARNING_FLAGS -Wall -Wextra -Wshadow -Wnon-virtual-dtor)
if(TOVIK_WERROR)
    list(APPEND TOVIK_WARNING_FLAGS -Werror)
endif()
if(NOT TARGET tovik_warnings)
    add_library(tovik_warnings INTERFACE)
    target_compile_options(tovik_warnings INTERFACE ${TOVIK_WARNING_FLAGS})
endif()

# The Windows side is compiled here with mingw-w64 (tests/cross, tests/windows) when it is there.
find_program(TOVIK_MINGW_CXX x86_64-w64-mingw32-g++-posix)

# tovik_add_library(<target> <folder>)
# A static library for the sources of <folder>. Its users include its headers as
# "<folder>/Name.h" from a folder of the build that holds only <folder>, so a library can include
# the headers of exactly the libraries it links: any other include fails to compile.
function(tovik_add_library target folder)
    add_library(${target} STATIC)
    tovik_offer_headers(${target} PUBLIC ${folder})
    target_link_libraries(${target} PRIVATE tovik_warnings)
endfunction()

# tovik_offer_headers(<target> <PUBLIC|INTERFACE|PRIVATE> <folder>)
# Makes "<folder>/..." includable for <target> (and its users, unless PRIVATE) and nothing else.
function(tovik_offer_headers target scope folder)
    set(stage ${CMAKE_BINARY_DIR}/include/${target})
    get_filename_component(parent ${stage}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${TOVIK_ROOT}/${folder} ${stage}/${folder} SYMBOLIC)
    target_include_directories(${target} ${scope} ${stage})
endfunction()

# tovik_platform_sources(<target> [WINDOWS <files...>] [LINUX <files...>]
#                        [WINDOWS_LIBS <libs...>] [LINUX_LIBS <libs...>])
# The seams' files and libraries of this platform, private to <target>.
function(tovik_platform_sources target)
    cmake_parse_arguments(P "" "" "WINDOWS;LINUX;WINDOWS_LIBS;LINUX_LIBS" ${ARGN})
    string(TOUPPER ${TOVIK_PLATFORM} platform)
    if(P_${platform})
        target_sources(${target} PRIVATE ${P_${platform}})
    endif()
    if(P_${platform}_LIBS)
        target_link_libraries(${target} PRIVATE ${P_${platform}_LIBS})
    endif()
endfunction()
