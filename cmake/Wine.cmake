# Cross builds for Windows run their programs (tests and test discovery) under Wine, through a
# wrapper that keeps a private Wine prefix inside the build folder.
if(CMAKE_CROSSCOMPILING AND WIN32 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wine/prefix)
endif()
