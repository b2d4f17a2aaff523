list(APPEND MOFA_PORTABLE_SOURCES ime/layoutid.cpp ime/winlist.cpp)
list(APPEND MOFA_WINDOWS_SOURCES ime/register.cpp ime/preload.cpp ime/checks.cpp ime/enable.cpp)
