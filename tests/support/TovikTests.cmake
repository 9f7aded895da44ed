# The test environment: what several test folders share, and the functions that register tests.
find_package(Qt6 REQUIRED COMPONENTS Test QuickTest)

# What the test folders share, included as "tests/support/...": the helpers are headers, and the
# library runs moc once over those with signals and slots. A test links the subsystems it tests
# (LIBS) beyond the simulated world and diagnostics, which every test folder uses.
tovik_add_library(tovik_test_support tests/support)
target_sources(tovik_test_support PRIVATE support/FileBrowserDouble.h support/SignalRecorder.h
    support/MidiBusFaults.h support/MidiBusFaults.cpp support/VolumeFaults.h support/VolumeFaults.cpp)
target_link_libraries(tovik_test_support PUBLIC tovik_sim tovik_diagnostics Qt6::Gui Qt6::Test)

# tovik_add_qtest(<name> LABEL <folder> SOURCES <files...> TIMEOUT <s> [LIBS <targets...>]
#                 [ENVIRONMENT <k=v...>] [WRAPPER <script>] [ARGS <arguments...>])
# One QtTest executable, registered with CTest under the label of its folder, run through WRAPPER
# when given. Every test gets a private HOME, configuration and temporary folder, so that log
# files, settings and downloads never touch the user's nor another test's.
function(tovik_add_qtest name)
    cmake_parse_arguments(T "" "LABEL;TIMEOUT;WRAPPER" "SOURCES;LIBS;ENVIRONMENT;ARGS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE tovik_test_support tovik_warnings ${T_LIBS})
    set(home ${CMAKE_CURRENT_BINARY_DIR}/home/${name})
    add_test(NAME ${name} COMMAND ${T_WRAPPER} $<TARGET_FILE:${name}> ${T_ARGS})
    set_tests_properties(${name} PROPERTIES
        LABELS "${T_LABEL}"
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${home};XDG_CONFIG_HOME=${home}/.config;XDG_RUNTIME_DIR=${home}/run;TMPDIR=${home}/tmp;TOVIK_SOURCE_DIR=${PROJECT_SOURCE_DIR};${T_ENVIRONMENT}")
    file(MAKE_DIRECTORY ${home}/.config ${home}/run ${home}/tmp)
    file(CHMOD ${home}/run DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endfunction()

# tovik_skip_tests(<label> <why> <names...>)
# Registers the tests as skipped, saying why, where a tool they need is not installed.
function(tovik_skip_tests label why)
    foreach(name ${ARGN})
        add_test(NAME ${name} COMMAND sh -c "echo '${why} (tools/install-deps installs it).'; exit 77")
        set_tests_properties(${name} PROPERTIES LABELS ${label} SKIP_RETURN_CODE 77)
    endforeach()
endfunction()
