list(APPEND MOFA_PORTABLE_SOURCES archive/seal.cpp archive/zstream.cpp archive/mfz.cpp archive/backup.cpp)
list(APPEND MOFA_HOST_SOURCES archive/md5_host.cpp)
list(APPEND MOFA_WIN_PORTABLE_SOURCES archive/md5_win.cpp)
