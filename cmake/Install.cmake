# Where `cmake --install` puts things: the GNU directories for the tools, headers, manual
# pages and documentation, and the control panel's own layout for the statistics program,
# which the control panel starts as PRODUCT_ROOT_D/admin/bin/statistics.
# All of these are fixed when the build is configured (set CMAKE_INSTALL_PREFIX then, not
# with `cmake --install --prefix`): the links and the modules configuration are computed
# from them.
set(CMAKE_INSTALL_DOCDIR "share/doc/cadro-statistics" CACHE PATH "Documentation (DATAROOTDIR/doc/cadro-statistics)")
include(GNUInstallDirs)

set(CADRO_PRODUCT_ROOT "/usr/lib/cadro" CACHE PATH
    "The control panel's product root: the statistics program goes to its admin/bin/")
set(CADRO_PLUGIN_DIR "${CADRO_PRODUCT_ROOT}/admin/plugins" CACHE PATH "The shipped plug-in libraries")
set(CADRO_SYSTEM_ROOT_DEFAULT "/var/lib/cadro/system")

# systemd's own answer where it has one (/lib/systemd/system on Debian 12).
set(default_unit_dir "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
pkg_get_variable(systemd_unit_dir systemd systemdsystemunitdir)
if(systemd_unit_dir)
  set(default_unit_dir "${systemd_unit_dir}")
endif()
set(CADRO_SYSTEMD_UNIT_DIR "${default_unit_dir}" CACHE PATH "systemd system units")

set(CADRO_PROGRAM_DIR "${CADRO_PRODUCT_ROOT}/admin/bin")
set(CADRO_MODULES_CONFIG_DIR "${CMAKE_INSTALL_FULL_SYSCONFDIR}/cadro")

# Installs a symbolic link LINK (an absolute path) to TARGET (an absolute path), written
# relative to the link's directory so that it holds under DESTDIR too.
function(cadro_install_link target link)
  get_filename_component(link_dir "${link}" DIRECTORY)
  file(RELATIVE_PATH relative "${link_dir}" "${target}")
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}${link_dir}\")
    message(STATUS \"Installing: \$ENV{DESTDIR}${link} -> ${relative}\")
    file(CREATE_LINK \"${relative}\" \"\$ENV{DESTDIR}${link}\" SYMBOLIC)")
endfunction()
