list(APPEND KL_WIN_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/uMsgBox.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uPropDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uTheme.cpp
    # The library's entry point releases what the theme holds; it is listed
    # here, beside the module it serves.
    ${CMAKE_CURRENT_LIST_DIR}/../plugin/uDllMain.cpp)
