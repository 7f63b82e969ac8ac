# The Windows programs, their test build, the Windows unit tests and the test
# helper, cross-compiled with MinGW-w64.

# Static runtime: no libstdc++, libgcc or winpthread DLLs beside the programs.
set(OSTREL_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
target_compile_options(ostrel_core PRIVATE -municode)
target_link_options(convert_write_bench PRIVATE ${OSTREL_STATIC_RUNTIME})
target_link_options(input_effects_bench PRIVATE ${OSTREL_STATIC_RUNTIME})

# Platform glue shared by the shipping program, its test build and the unit tests.
add_library(ostrel_glue STATIC
  src/app/camera_bubble.cpp
  src/app/capture_flows.cpp
  src/app/cloud_calls.cpp
  src/app/hotkeys.cpp
  src/app/main_window.cpp
  src/common/clipboard.cpp
  src/common/copy_request.cpp
  src/common/posted.cpp
  src/app/recent_menu.cpp
  src/app/recovery.cpp
  src/app/region_overlay.cpp
  src/app/settings_window.cpp
  src/app/self_tests.cpp
  src/app/shell.cpp
  src/app/signin_window.cpp
  src/app/toolbar.cpp
  src/app/tray.cpp
  src/app/trim_window.cpp
  src/audio/audio_source.cpp
  src/capture/capturer.cpp
  src/capture/d3d.cpp
  src/capture/screenshot.cpp
  src/cloud/account.cpp
  src/cloud/device_signin.cpp
  src/cloud/http_client.cpp
  src/app/save_flow.cpp
  src/cloud/upload.cpp
  src/recorder/audio_loop.cpp
  src/recorder/input_watch.cpp
  src/recorder/media_foundation.cpp
  src/recorder/recorder.cpp
  src/recorder/video_loop.cpp
  src/cloud/capture_facts.cpp
  src/cloud/uploads_file.cpp
  src/common/wide_format.cpp
  src/editor/editor_picture.cpp
  src/app/editor_view.cpp
  src/app/editor_window.cpp
  src/storage/folders.cpp
  src/storage/log.cpp
  src/storage/monitors.cpp
  src/storage/recent_file.cpp
  src/storage/settings.cpp
  src/storage/sign_in_start.cpp
  src/storage/whole_file.cpp
  src/trim/trim_file.cpp
)
target_include_directories(ostrel_glue PUBLIC src)
target_compile_options(ostrel_glue PRIVATE ${OSTREL_WARNINGS} -municode)
target_link_libraries(ostrel_glue PUBLIC ostrel_core shell32 ole32 user32 gdi32 comctl32 d3d11 dxgi windowscodecs mfuuid uuid winmm winhttp crypt32 bcrypt propsys dwmapi gdiplus comdlg32)

# The icon, drawn by our own script.
set(OSTREL_ICON ${CMAKE_BINARY_DIR}/resources/ostrel.ico)
add_custom_command(
  OUTPUT ${OSTREL_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/resources
  COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/resources/make_icon.py ${OSTREL_ICON}
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/make_icon.py
  COMMENT "Drawing the program icon"
  VERBATIM)
add_custom_target(ostrel_icon DEPENDS ${OSTREL_ICON})
set_source_files_properties(resources/ostrel_windows.rc PROPERTIES OBJECT_DEPENDS ${OSTREL_ICON})

# One function makes both builds of the program, so they differ only in the
# backends they link.
function(ostrel_windows_program name)
  add_executable(${name} WIN32 src/app/main.cpp resources/ostrel_windows.rc ${ARGN})
  add_dependencies(${name} ostrel_icon)
  target_include_directories(${name} PRIVATE ${CMAKE_BINARY_DIR}/resources)
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${OSTREL_WARNINGS} -municode>)
  target_link_options(${name} PRIVATE -mwindows -municode ${OSTREL_STATIC_RUNTIME})
  target_link_libraries(${name} PRIVATE ostrel_glue)
endfunction()

enable_language(RC)
# The backends behind the narrow seams of the screen path.
set(OSTREL_WINDOWS_BACKENDS
  src/audio/computer_sound_loopback.cpp
  src/camera/camera_mf.cpp
  src/capture/capturer_wgc.cpp
  src/recorder/mf_writer.cpp
  src/recorder/video_processor.cpp
  src/trim/trim_pictures_mf.cpp
)
set(OSTREL_STANDIN_BACKENDS
  src/audio/computer_sound_monitor.cpp
  src/camera/camera_standin.cpp
  src/capture/capturer_gdi.cpp
  src/recorder/cpu_converter.cpp
  src/recorder/mp4_file_writer.cpp
  src/trim/trim_pictures_standin.cpp
)

# The shipping program: only the Windows implementations.
ostrel_windows_program(OstrelWindows ${OSTREL_WINDOWS_BACKENDS})
# The test build: the same program with the stand-in backends that run under Wine.
ostrel_windows_program(OstrelWindowsTest ${OSTREL_STANDIN_BACKENDS})

# OstrelSetup, the installer and uninstaller. Its glue is a library so the
# unit tests can reach the registry and path helpers.
add_library(ostrel_setup_glue STATIC
  src/setup/install.cpp
  src/setup/setup_shared.cpp
  src/setup/uninstall.cpp
  src/storage/sign_in_start.cpp
)
target_include_directories(ostrel_setup_glue PUBLIC src)
target_compile_options(ostrel_setup_glue PRIVATE ${OSTREL_WARNINGS} -municode)
target_link_libraries(ostrel_setup_glue PUBLIC ostrel_core shell32 ole32 user32 advapi32 uuid)

# It carries the shipping program as a resource: the resource file depends on
# the built program, so a changed program rebuilds the installer.
set(OSTREL_SHIPPING_PROGRAM ${CMAKE_BINARY_DIR}/OstrelWindows.exe)
add_executable(OstrelSetup WIN32 src/setup/setup_main.cpp resources/ostrel_setup.rc)
add_dependencies(OstrelSetup ostrel_icon OstrelWindows)
target_include_directories(OstrelSetup PRIVATE ${CMAKE_BINARY_DIR}/resources ${CMAKE_SOURCE_DIR}/resources ${CMAKE_BINARY_DIR})
set_source_files_properties(resources/ostrel_setup.rc PROPERTIES
  OBJECT_DEPENDS "${OSTREL_ICON};${OSTREL_SHIPPING_PROGRAM};${CMAKE_SOURCE_DIR}/resources/ostrel_setup.manifest")
target_compile_options(OstrelSetup PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${OSTREL_WARNINGS} -municode>)
target_link_options(OstrelSetup PRIVATE -mwindows -municode ${OSTREL_STATIC_RUNTIME})
target_link_libraries(OstrelSetup PRIVATE ostrel_setup_glue)

# Unit tests: the core's and the glue's, run under Wine by ctest.
add_executable(OstrelUnitTests
  tests/unit/main.cpp
  ${OSTREL_CORE_TESTS}
  tests/unit/freed_memory.cpp
  tests/unit/win_capture_test.cpp
  tests/unit/win_cloud_test.cpp
  tests/unit/win_resources_test.cpp
  tests/unit/win_settings_test.cpp
  tests/unit/win_setup_test.cpp
  tests/unit/win_storage_test.cpp
  tests/unit/win_test_support.cpp
  tests/unit/win_text_test.cpp
  ${OSTREL_STANDIN_BACKENDS}
)
target_include_directories(OstrelUnitTests SYSTEM PRIVATE ${DOCTEST_INCLUDE_DIR})
target_compile_options(OstrelUnitTests PRIVATE ${OSTREL_WARNINGS})
target_link_options(OstrelUnitTests PRIVATE ${OSTREL_STATIC_RUNTIME})
target_link_libraries(OstrelUnitTests PRIVATE ostrel_glue ostrel_setup_glue version ws2_32)
# The resource tests read the programs built beside the tests.
add_dependencies(OstrelUnitTests OstrelWindows OstrelWindowsTest OstrelSetup)
add_test(NAME unit-windows COMMAND OstrelUnitTests)

# The shipping glue's tests: the Windows implementations behind the seams,
# run against fakes of the platform objects that Wine lacks.
add_executable(OstrelGlueTests
  tests/unit/main.cpp
  tests/unit/glue_test.cpp
  tests/unit/glue_camera_test.cpp
  tests/unit/glue_trim_test.cpp
  tests/unit/fakes/fake_platform.cpp
  tests/unit/win_test_support.cpp
  ${OSTREL_WINDOWS_BACKENDS}
)
target_include_directories(OstrelGlueTests PRIVATE tests/unit)
target_include_directories(OstrelGlueTests SYSTEM PRIVATE ${DOCTEST_INCLUDE_DIR})
target_compile_options(OstrelGlueTests PRIVATE ${OSTREL_WARNINGS})
target_link_options(OstrelGlueTests PRIVATE ${OSTREL_STATIC_RUNTIME})
target_link_libraries(OstrelGlueTests PRIVATE ostrel_glue)
add_test(NAME glue-windows COMMAND OstrelGlueTests)

# The end-to-end tests' helper: finds our windows and posts messages to them.
add_executable(OstrelDriver tests/tools/driver.cpp)
target_compile_options(OstrelDriver PRIVATE ${OSTREL_WARNINGS} -municode)
target_link_options(OstrelDriver PRIVATE -municode ${OSTREL_STATIC_RUNTIME})
target_link_libraries(OstrelDriver PRIVATE user32 gdi32 advapi32)

# Throughput of the part hash through CNG (bench/upload_throughput.sh runs it).
add_executable(sha256_bench bench/sha256_bench.cpp)
target_compile_options(sha256_bench PRIVATE ${OSTREL_WARNINGS} -municode -O2)
target_link_options(sha256_bench PRIVATE -municode ${OSTREL_STATIC_RUNTIME})
target_link_libraries(sha256_bench PRIVATE ostrel_glue)

# The per-frame copy of a picture into the encoder's buffer (bench/frame_copy.sh runs it).
add_executable(frame_copy_bench bench/frame_copy_bench.cpp)
target_compile_options(frame_copy_bench PRIVATE ${OSTREL_WARNINGS} -municode -O2)
target_link_options(frame_copy_bench PRIVATE -municode ${OSTREL_STATIC_RUNTIME})
target_link_libraries(frame_copy_bench PRIVATE ostrel_glue)

# Wine's memory per thread that uses another thread's Direct3D device (bench/d3d_thread_memory.sh).
add_executable(d3d_thread_memory bench/d3d_thread_memory.cpp)
target_compile_options(d3d_thread_memory PRIVATE ${OSTREL_WARNINGS} -municode -O2)
target_link_options(d3d_thread_memory PRIVATE -municode ${OSTREL_STATIC_RUNTIME})
target_link_libraries(d3d_thread_memory PRIVATE d3d11)

# The PNG encoder's filter choices on a screenshot (bench/png_encode.sh runs it).
add_executable(png_encode_bench bench/png_encode_bench.cpp)
target_compile_options(png_encode_bench PRIVATE ${OSTREL_WARNINGS} -municode -O2)
target_link_options(png_encode_bench PRIVATE -municode ${OSTREL_STATIC_RUNTIME})
target_link_libraries(png_encode_bench PRIVATE ole32 windowscodecs uuid)

# The platform's floor for a screenshot, timed against the tray's own (bench/screenshot_floor.sh).
add_executable(screenshot_floor bench/screenshot_floor.cpp)
target_compile_options(screenshot_floor PRIVATE ${OSTREL_WARNINGS} -municode -O2)
target_link_options(screenshot_floor PRIVATE -municode ${OSTREL_STATIC_RUNTIME})
target_link_libraries(screenshot_floor PRIVATE ole32 windowscodecs uuid gdi32 user32)
