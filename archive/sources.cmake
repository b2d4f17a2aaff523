list(APPEND MOFA_PORTABLE_SOURCES archive/text.cpp archive/mfz.cpp archive/backup.cpp)
list(APPEND MOFA_HOST_SOURCES archive/md5_host.cpp)
list(APPEND MOFA_WIN_PORTABLE_SOURCES archive/md5_win.cpp)
list(APPEND MOFA_WINDOWS_SOURCES archive/report.cpp)
