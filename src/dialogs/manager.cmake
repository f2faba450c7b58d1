# The connection manager and its tabs.
list(APPEND KL_WIN_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/uConnDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uConnDlgKit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uConnectionsPage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uFontPage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uAppearancePage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uGeneralPage.cpp)
