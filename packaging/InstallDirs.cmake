# Installation folders that do not follow the prefix, shared by the install
# rules and the package tests.

# The libraries read their configuration from and log into these fixed
# folders whatever the installation prefix (DESTDIR still applies).
set(PNLMON_CONF_DIR "/etc/pnlmon")
set(PNLMON_LOG_DIR "/var/log/pnlmon")

# udev and systemd read the files of packages from folders of their own, not
# from under the prefix: the folder their pkg-config file names (VARIABLE of
# PACKAGE) with SUFFIX appended, else FALLBACK. A value given on the command
# line or in the cache is kept.
function(pnlmon_system_dir name package variable fallback suffix doc)
  if(DEFINED CACHE{${name}})
    return()
  endif()
  pkg_get_variable(_pnlmon_dir ${package} ${variable})
  if(NOT _pnlmon_dir)
    set(_pnlmon_dir "${fallback}")
  endif()
  set(${name} "${_pnlmon_dir}${suffix}" CACHE PATH "${doc}")
endfunction()

pnlmon_system_dir(PNLMON_UDEV_RULES_DIR udev udevdir "/lib/udev" "/rules.d"
  "Folder the udev rule 60-pnlmon.rules is installed into")
pnlmon_system_dir(PNLMON_SYSTEMD_UNIT_DIR systemd systemdsystemunitdir "/lib/systemd/system" ""
  "Folder the units pnlmon-metrics.service and .timer are installed into")

# The folder node_exporter's textfile collector reads (its
# --collector.textfile.directory); the metrics service writes pnlmon.prom
# there. Debian's prometheus-node-exporter creates this one.
set(PNLMON_TEXTFILE_DIR "/var/lib/prometheus/node-exporter" CACHE PATH
    "Folder of node_exporter's textfile collector")
