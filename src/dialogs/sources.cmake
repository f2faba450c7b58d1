list(APPEND KL_WIN_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/uMsgBox.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uPropDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uSendFileDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uTheme.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uThemePaint.cpp)
include(${CMAKE_CURRENT_LIST_DIR}/manager.cmake)
