# Tests of the graphical front end; included by tests/ui/CMakeLists.txt.

# The pages' QML and JavaScript logic under Qt Quick Test, with the resources compiled in.
add_executable(test_gui_qml
    gui/QmlTestMain.cpp
    gui/LeakSuppressions.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/qml/qml.qrc
)
target_link_libraries(test_gui_qml PRIVATE Qt5::QuickTest Qt5::Qml Qt5::Quick)
add_test(NAME gui_qml
         COMMAND test_gui_qml -input ${CMAKE_CURRENT_SOURCE_DIR}/gui/qml)
set_tests_properties(gui_qml PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_QUICK_BACKEND=software" TIMEOUT 120)

# The native side against the real pages and the real application object.
add_executable(test_gui
    gui/GuiTestMain.cpp
    gui/LeakSuppressions.cpp
    gui/PXGuiManagerTest.cpp
    gui/PageStackTest.cpp
)
target_link_libraries(test_gui PRIVATE roamnode_ui roamnode_app roamnode_testsupport GTest::gtest Qt5::Quick
    Qt5::Test)
gtest_discover_tests(test_gui
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_QUICK_BACKEND=software"
)
