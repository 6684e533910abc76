# Installation folders that do not follow the prefix, shared by the install
# rules and the package tests.

# The libraries read their configuration from and log into these fixed
# folders whatever the installation prefix (DESTDIR still applies).
set(PNLMON_CONF_DIR "/etc/pnlmon")
set(PNLMON_LOG_DIR "/var/log/pnlmon")

# udev reads its rules from its own folder, not from under the prefix.
if(NOT DEFINED CACHE{PNLMON_UDEV_RULES_DIR})
  pkg_get_variable(_pnlmon_udevdir udev udevdir)
  if(NOT _pnlmon_udevdir)
    set(_pnlmon_udevdir "/lib/udev")
  endif()
  set(PNLMON_UDEV_RULES_DIR "${_pnlmon_udevdir}/rules.d" CACHE PATH
      "Folder the udev rule 60-pnlmon.rules is installed into")
endif()

# systemd reads the units of packages from its own folder.
if(NOT DEFINED CACHE{PNLMON_SYSTEMD_UNIT_DIR})
  pkg_get_variable(_pnlmon_unitdir systemd systemdsystemunitdir)
  if(NOT _pnlmon_unitdir)
    set(_pnlmon_unitdir "/lib/systemd/system")
  endif()
  set(PNLMON_SYSTEMD_UNIT_DIR "${_pnlmon_unitdir}" CACHE PATH
      "Folder the units pnlmon-metrics.service and .timer are installed into")
endif()

# The folder node_exporter's textfile collector reads (its
# --collector.textfile.directory); the metrics service writes pnlmon.prom
# there. Debian's prometheus-node-exporter creates this one.
set(PNLMON_TEXTFILE_DIR "/var/lib/prometheus/node-exporter" CACHE PATH
    "Folder of node_exporter's textfile collector")
