# Shared helpers: one static library per src/ folder, one test program per tests/ folder.

function(ondrix_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion)
endfunction()

# ondrix_library(<folder> [QT] LIBS <libs...>)
# Builds every .cpp of src/<folder>/ into the static library ondrix_<folder>.
# QT turns on moc for folders whose classes use signals and slots.
# Windows of a folder that is otherwise non-visual (Form_*.cpp, *_Forms.cpp) go into a library
# of their own, ondrix_<folder>_forms, on Qt Widgets, so that headless programs never link it.
function(ondrix_library folder)
  cmake_parse_arguments(ARG "QT" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  set(forms ${sources})
  list(FILTER forms INCLUDE REGEX "/(Form_[^/]*|[^/]*_Forms)\\.(cpp|h)$")
  list(FILTER sources EXCLUDE REGEX "/(Form_[^/]*|[^/]*_Forms)\\.(cpp|h)$")
  if(forms)
    add_library(ondrix_${folder}_forms STATIC ${forms})
    target_link_libraries(ondrix_${folder}_forms PUBLIC ondrix_${folder} Qt6::Widgets)
    set_target_properties(ondrix_${folder}_forms PROPERTIES AUTOMOC ON LINKER_LANGUAGE CXX)
    ondrix_warnings(ondrix_${folder}_forms)
  endif()
  set(target ondrix_${folder})
  if(NOT sources)
    # A folder whose code has not been written yet still takes part in linking.
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${ARG_LIBS})
    return()
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE CXX)
  if(ARG_QT)
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
    # The moc step reruns only when a file it read last time changes, so a header added to the
    # folder later would never reach moc. It reads this listing of the folder's files, which
    # changes (and only then) whenever the glob finds a file more or less.
    set(listing ${CMAKE_CURRENT_BINARY_DIR}/${target}_files.h)
    list(JOIN sources "\n// " listing_text)
    file(CONFIGURE OUTPUT ${listing} CONTENT "// Files of ${target}\n// ${listing_text}\n")
    target_sources(${target} PRIVATE ${listing})
  endif()
  ondrix_warnings(${target})
endfunction()

# ondrix_tests(<folder> [QT|WIDGETS|XCB] LIBS <libs...>)
# Builds every .cpp of tests/<folder>/ into test_<folder> and registers each GoogleTest case
# with CTest. QT gives the program a QCoreApplication (tests/helpers/QtTestMain.cpp), WIDGETS a
# QApplication for tests that open real windows (tests/helpers/WidgetTestMain.cpp), XCB one on
# a private X server (tests/helpers/XcbTestMain.cpp) for what only a real platform does.
function(ondrix_tests folder)
  cmake_parse_arguments(ARG "QT;WIDGETS;XCB" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  set(target test_${folder})
  add_executable(${target} ${sources})
  if(ARG_XCB)
    target_link_libraries(${target} PRIVATE ondrix_testmain_xcb)
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
  elseif(ARG_WIDGETS)
    target_link_libraries(${target} PRIVATE ondrix_testmain_widgets)
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
  elseif(ARG_QT)
    target_link_libraries(${target} PRIVATE ondrix_testmain_qt)
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
  else()
    target_link_libraries(${target} PRIVATE GTest::gtest_main)
  endif()
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} ondrix_testkit GTest::gtest GTest::gmock)
  target_compile_definitions(${target} PRIVATE ONDRIX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ONDRIX_BIN_DIR="${ONDRIX_BIN_DIR}")
  add_dependencies(${target} ondrix_resources)
  ondrix_warnings(${target})
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()
