# MOFA_PORTABLE_SOURCES: no Windows header. MOFA_HOST_SOURCES and
# MOFA_WIN_PORTABLE_SOURCES: each platform's implementation of portable
# interfaces. MOFA_WINDOWS_SOURCES: code that calls Windows.
list(APPEND MOFA_PORTABLE_SOURCES base/context.cpp base/failure.cpp base/strbuf.cpp base/text.cpp base/path.cpp
     base/fileops_common.cpp base/ui.cpp base/journal_records.cpp)
list(APPEND MOFA_HOST_SOURCES base/ui_host.cpp base/fileops_posix.cpp base/log_host.cpp)
list(APPEND MOFA_WIN_PORTABLE_SOURCES base/ui_win.cpp base/fileops_win.cpp base/filebase_win.cpp base/sysapi.cpp base/log_win.cpp
     base/journal.cpp base/safepath_win.cpp base/widetext_win.cpp)
list(APPEND MOFA_WINDOWS_SOURCES base/machine.cpp base/registry.cpp)
