# Host names of the deployment. They are build settings so that a world's maintainers can
# build their own launcher; tests and the demo override them at run time with
# VELDMOOR_SERVER_OVERRIDE (see profiles/addresses.h).
set(VELDMOOR_SYNC_HOST "sync.veldmoor.example" CACHE STRING "Host name of the synchronisation server")
set(VELDMOOR_WEB_HOST "www.veldmoor.example" CACHE STRING "Host name of the web site (news page)")
set(VELDMOOR_OLD_RSYNC_HOST_1 "rsync1.veldmoor.example" CACHE STRING "Host name of the first former rsync server")
set(VELDMOOR_OLD_RSYNC_HOST_2 "rsync2.veldmoor.example" CACHE STRING "Host name of the second former rsync server")
# The root of trust of the launcher's own repository and the built-in game repositories: a root
# file made with `veldmoor-publish root`, compiled into the program (profiles/trust_roots.h).
# Empty: no built-in root, and those repositories are not verified.
set(VELDMOOR_TRUST_ROOT "" CACHE FILEPATH "Root file the built-in repositories are verified against")
