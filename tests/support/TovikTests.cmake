# The test environment: what several test folders share, and the functions that register tests.
find_package(Qt6 REQUIRED COMPONENTS Test QuickTest)

# The shared helpers; the library runs moc once over the headers with signals and slots.
add_library(tovik_test_support STATIC
    ${CMAKE_CURRENT_LIST_DIR}/FileBrowserDouble.h ${CMAKE_CURRENT_LIST_DIR}/SignalRecorder.h
    ${CMAKE_CURRENT_LIST_DIR}/MidiBusFaults.h ${CMAKE_CURRENT_LIST_DIR}/MidiBusFaults.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VolumeFaults.h ${CMAKE_CURRENT_LIST_DIR}/VolumeFaults.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ServeRule.h
    ${CMAKE_CURRENT_LIST_DIR}/ServerRules.h ${CMAKE_CURRENT_LIST_DIR}/ServerRules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MisbehavingReleaseServer.h
    ${CMAKE_CURRENT_LIST_DIR}/MisbehavingReleaseServer.cpp)
target_link_libraries(tovik_test_support PUBLIC tovik tovik_sim Qt6::Test PRIVATE tovik_warnings)

# tovik_add_qtest(<name> LABEL <folder> SOURCES <files...> [TIMEOUT <s>] [LIBS <targets...>]
#                 [ENVIRONMENT <k=v...>] [WRAPPER <script>] [ARGS <arguments...>])
# One QtTest executable, registered with CTest under the label of its folder, run through WRAPPER
# when given. Every test gets a private HOME, configuration and temporary folder, so that log
# files, settings and downloads never touch the user's nor another test's.
function(tovik_add_qtest name)
    cmake_parse_arguments(T "" "LABEL;TIMEOUT;WRAPPER" "SOURCES;LIBS;ENVIRONMENT;ARGS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
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

# tovik_add_fuzz_test(<name> LABEL <folder> SECONDS <n> [QT] SOURCES <files relative to the repo>)
# Builds the target with clang's libFuzzer at test time and runs it for a bounded time.
function(tovik_add_fuzz_test name)
    cmake_parse_arguments(F "QT" "LABEL;SECONDS" "SOURCES" ${ARGN})
    if(F_QT)
        set(qt_flag --qt)
    endif()
    list(TRANSFORM F_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
    add_test(NAME ${name}
        COMMAND ${PROJECT_SOURCE_DIR}/tools/fuzz ${CMAKE_CURRENT_BINARY_DIR}/${name} ${F_SECONDS}
                ${qt_flag} ${F_SOURCES})
    math(EXPR budget "${F_SECONDS} + 240")
    set_tests_properties(${name} PROPERTIES LABELS "${F_LABEL};fuzz" TIMEOUT ${budget})
endfunction()
