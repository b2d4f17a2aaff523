list(APPEND MOFA_PORTABLE_SOURCES install/fileops_common.cpp install/patch.cpp)
list(APPEND MOFA_HOST_SOURCES install/fileops_posix.cpp)
list(APPEND MOFA_WIN_PORTABLE_SOURCES install/fileops_win.cpp)
list(APPEND MOFA_WINDOWS_SOURCES install/locations.cpp install/sysapi.cpp install/sysops.cpp install/deploy.cpp
     install/sequence.cpp install/skins.cpp)
