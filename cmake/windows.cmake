# Windows trees (mingw-w64): the Windows layer as a static library, the plugin
# DLL from both libraries plus the export list and resources; in the x86-64
# tree also the Windows tests (run under Wine) and the stand-in host.
enable_language(RC)
set(KL_SYSTEM_LIBS ws2_32 setupapi advapi32 user32 gdi32 comctl32 comdlg32 shell32 uxtheme)

add_library(kl_win STATIC ${KL_WIN_SOURCES})
target_link_libraries(kl_win PUBLIC kl_core ${KL_SYSTEM_LIBS})

set(KL_RC ${CMAKE_SOURCE_DIR}/src/resources/kestrelink.rc)
set(KL_DLL_EXTRA)
if(EXISTS ${KL_RC})
  list(APPEND KL_DLL_EXTRA ${KL_RC})
  # windres reports no dependencies: rebuild when an icon or the version changes
  file(GLOB KL_ICONS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/resources/*.ico
       ${CMAKE_SOURCE_DIR}/src/resources/version.h)
  set_source_files_properties(${KL_RC} PROPERTIES OBJECT_DEPENDS "${KL_ICONS}")
endif()
add_library(kestrelink SHARED ${CMAKE_SOURCE_DIR}/src/plugin/kestrelink.def ${KL_DLL_EXTRA})
set_target_properties(kestrelink PROPERTIES PREFIX "" OUTPUT_NAME kestrelink LINKER_LANGUAGE CXX)
target_link_libraries(kestrelink PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,kl_win>" kl_core ${KL_SYSTEM_LIBS})
# Undecorated stdcall names in the i386 build: FsInit, never FsInit@16.
target_link_options(kestrelink PRIVATE -Wl,--enable-stdcall-fixup -Wl,--kill-at)

# Language catalogs travel beside each DLL; copied on every build so an edited
# catalog arrives even when the DLL does not relink.
add_custom_target(kl_languages ALL
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/languages ${CMAKE_BINARY_DIR}/languages)
add_dependencies(kestrelink kl_languages)

find_program(KL_OBJDUMP NAMES ${KL_TRIPLE}-objdump REQUIRED)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KL_ARCH x64)
else()
  set(KL_ARCH x86)
endif()
add_test(NAME dll.${KL_ARCH}.exports_imports
         COMMAND ${CMAKE_SOURCE_DIR}/tools/check-dll.sh $<TARGET_FILE:kestrelink> ${KL_OBJDUMP}
                 ${CMAKE_SOURCE_DIR}/tests/support/exports.txt)

include(cmake/wintests.cmake)
