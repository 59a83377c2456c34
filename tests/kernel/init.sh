#!/bin/busybox sh
# The guest's first process: mounts the kernel's file systems, loads the
# modules of the SCSI target and the CD driver, runs the cases, powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
for module in $(cat /lib/modules/order); do
    insmod "/lib/modules/$module.ko" || echo "init: cannot load $module"
done
mount -t configfs configfs /sys/kernel/config
sh /cases.sh
poweroff -f
