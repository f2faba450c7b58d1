list(APPEND KL_WIN_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/uTermWnd.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uTermLayout.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uTermView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uTermSelect.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uFindBar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uSession.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uTermSendFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uListerGlue.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uLogFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/uTermLog.cpp)
