# Fuzz targets that drive the program's handlers: every layer below the Qt adapters is
# compiled again here with coverage instrumentation and the sanitizers, together with
# the test fakes. The layers and their folders come from ARCHITECTURE.md's table.
set(KELDRIN_CORE_GLOBS)
foreach(layer IN LISTS KELDRIN_LAYERS)
  if(NOT layer MATCHES "^(qt|app)$")
    list(APPEND KELDRIN_CORE_GLOBS ${PROJECT_SOURCE_DIR}/${KELDRIN_LAYER_FOLDER_${layer}}/*.cpp)
  endif()
endforeach()
file(GLOB FUZZ_PROGRAM_SOURCES CONFIGURE_DEPENDS ${KELDRIN_CORE_GLOBS}
  ${PROJECT_SOURCE_DIR}/tests/support/harness.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/targets/*.cpp)
add_library(keldrin_fuzz_program STATIC ${FUZZ_PROGRAM_SOURCES})
target_include_directories(keldrin_fuzz_program PUBLIC
  ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(keldrin_fuzz_program PUBLIC
  -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
target_link_libraries(keldrin_fuzz_program PUBLIC Qt6::Core ZLIB::ZLIB Mosquitto::mosquitto)

foreach(target stream textnum table_file csv_export journal row_payload)
  add_executable(fuzz_${target} ${target}_fuzz.cpp)
  target_link_libraries(fuzz_${target} PRIVATE keldrin_fuzz_program)
  target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
endforeach()
