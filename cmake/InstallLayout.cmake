# The installed program's folders (GNUInstallDirs), each relative to the install prefix so that the programs find
# their files from their own location, wherever the install was moved.
include(GNUInstallDirs)

function(_qh_relative_to_prefix out dir)
    file(RELATIVE_PATH relative "${CMAKE_INSTALL_PREFIX}" "${dir}")
    set(${out} "${relative}" PARENT_SCOPE)
endfunction()

_qh_relative_to_prefix(QH_INSTALL_BINDIR "${CMAKE_INSTALL_FULL_BINDIR}")
# The help document is read by the program, so it lives with its data, not in the documentation folder, which
# minimal systems leave out.
_qh_relative_to_prefix(QH_INSTALL_DATADIR "${CMAKE_INSTALL_FULL_DATADIR}/quillhaul")
_qh_relative_to_prefix(QH_INSTALL_PLUGINDIR "${CMAKE_INSTALL_FULL_LIBDIR}/quillhaul")
