# MOFA_PORTABLE_SOURCES: no Windows header. MOFA_HOST_SOURCES and
# MOFA_WIN_PORTABLE_SOURCES: each platform's implementation of portable
# interfaces. MOFA_WINDOWS_SOURCES: code that calls Windows.
list(APPEND MOFA_PORTABLE_SOURCES app/context.cpp app/strbuf.cpp app/cmdline.cpp app/payload_bitmap.cpp)
list(APPEND MOFA_HOST_SOURCES app/msgbox_host.cpp)
list(APPEND MOFA_WIN_PORTABLE_SOURCES app/msgbox_win.cpp)
list(APPEND MOFA_WINDOWS_SOURCES app/entry.cpp app/window.cpp app/pages.cpp)
