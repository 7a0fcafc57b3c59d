# One interface target carries what every target of the project shares.
add_library(quillhaul_options INTERFACE)
target_compile_features(quillhaul_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(quillhaul_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wcast-align -Woverloaded-virtual -Wformat=2)
target_compile_definitions(quillhaul_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_USE_QSTRINGBUILDER
    QUILLHAUL_VERSION="${PROJECT_VERSION}")

if(QUILLHAUL_SANITIZE OR QUILLHAUL_FUZZ)
    set(_qh_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_compile_options(quillhaul_options INTERFACE ${_qh_san})
    target_link_options(quillhaul_options INTERFACE ${_qh_san})
endif()
if(QUILLHAUL_FUZZ)
    target_compile_options(quillhaul_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
