# Each test program is one source file, and much of its compile time goes on
# QTest and the Qt headers behind it, so tests share a precompiled header. GCC
# takes a PCH only where the macros it tested are the same: QTest tests
# QT_GUI_LIB and QT_WIDGETS_LIB, which pick QTEST_MAIN's application, hence one
# PCH per application class (but QGuiApplication's: its one test would not
# repay a PCH). It also tests QT_TESTCASE_BUILDDIR and
# QT_TESTCASE_SOURCEDIR, which name each test's own folders and serve only
# QFINDTESTDATA and a BLACKLIST file: these tests use neither (their data come
# as KORA_TEST_DATA), so they go, or every folder would need a PCH of its own.
# CMake adds -Winvalid-pch: with KORA_WERROR a PCH GCC refuses stops the build.

set(KORA_PCH_Core
    <QCoreApplication> <QDir> <QFile> <QObject> <QProcess> <QRegularExpression> <QSignalSpy>
    <QString> <QStringList> <QTemporaryDir> <QTest> <QTimer>
    <algorithm> <array> <chrono> <cstdint> <cstdio> <functional> <memory> <optional> <string>
    <string_view> <thread> <vector>)
set(KORA_PCH_Widgets ${KORA_PCH_Core} <QApplication> <QCheckBox> <QGroupBox> <QLabel> <QLineEdit>
    <QPushButton> <QRadioButton> <QScrollBar>)

# Widgets, Gui or Core: the Qt module whose application QTEST_MAIN makes in a
# test linking the libraries given, following what they link publicly.
function(kora_qt_application out)
    set(found Core)
    set(seen)
    set(todo ${ARGN})
    while(todo)
        list(POP_FRONT todo lib)
        if(NOT TARGET "${lib}" OR lib IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${lib})
        if(lib STREQUAL "Qt6::Widgets")
            set(${out} Widgets PARENT_SCOPE)
            return()
        elseif(lib STREQUAL "Qt6::Gui")
            set(found Gui)
        elseif(NOT lib MATCHES "^Qt6::")
            get_target_property(next ${lib} INTERFACE_LINK_LIBRARIES)
            if(next)
                list(APPEND todo ${next})
            endif()
        endif()
    endwhile()
    set(${out} ${found} PARENT_SCOPE)
endfunction()

# Gives the test TARGET, linking LIBS, its application class's PCH, made on first use.
function(kora_test_pch target)
    target_compile_options(${target} PRIVATE -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR)
    kora_qt_application(app ${ARGN})
    if(app STREQUAL "Gui")
        return()
    endif()
    set(pch kora_test_pch_${app})
    if(NOT TARGET ${pch})
        add_library(${pch} OBJECT ${PROJECT_SOURCE_DIR}/cmake/pchsource.cpp)
        set_target_properties(${pch} PROPERTIES AUTOMOC OFF AUTOUIC OFF)
        target_link_libraries(${pch} PRIVATE Qt6::Test Qt6::${app})
        target_compile_options(${pch} PRIVATE -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR
                                              ${KORA_TEST_OPTIONS})
        target_precompile_headers(${pch} PRIVATE ${KORA_PCH_${app}})
    endif()
    target_precompile_headers(${target} REUSE_FROM ${pch})
    # Its moc file is empty or nearly: loading the PCH would take longer.
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/mocs_compilation.cpp
                                PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
endfunction()
