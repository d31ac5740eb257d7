#!/bin/sh
# /init of the test machine. The kernel hands over the case to run as the
# environment variable tcase (from "tcase=NAME" on its command line). The
# case folder /cases/NAME holds:
#   settings   shell assignments: LOAD_SG (1/0), DISKS (how many SCSI
#              devices to wait for), HOLD_PLAYER (what holds the first
#              disk's first partition during the run: mount, a read-only
#              mount; loop, a loop device over it, mounted read-only; swap,
#              swap made on it and turned on), SECOND_RUN (1: run
#              again with both boxes cancelled), SG_MODE (permissions of
#              /dev/sg*, owned by root and the group disk, as udev makes
#              them), RUN_AS (the user that runs tessaly instead of root),
#              UNDO (1: after the runs, put the disk back with tessaly-undo
#              on the journal the first run named), BLOCKS (1: send the
#              block devices the kernel shows before the run and after the
#              first run, blocks_before and blocks_after)
#   args       tessaly's arguments, one a line
#   answers    tessaly's standard input
#   script.sh  (optional) run in place of the usual tessaly runs once the
#              drivers are up, sourced so that it may use load_group,
#              wait_for and emit; what it leaves in /tmp/stdout1 and
#              /tmp/status1 goes back as a run's results
# Results go to the second serial port as base64 blocks between markers, so
# that kernel messages on the console cannot mix with them. A set-up that
# writes to the disk (mkswap) sends what it wrote, the partition's first 4 KiB
# (setup_page) and its first sector (setup_start), so that the host can tell
# it from a write of tessaly.
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp

case_dir=/cases/$tcase
results=/dev/ttyS1

say() { echo "vm: $*" > /dev/console; }
finish() {
  sync
  echo "@@done" > "$results"
  poweroff -f
  echo o > /proc/sysrq-trigger
}

load_group() {
  for m in $(cat /modules/$1.order); do
    params=
    # usb-storage waits a second before scanning a new device by default.
    [ "$m" = usb_storage ] && params=delay_use=0
    insmod /modules/$m.ko $params 2> /tmp/insmod.err || say "insmod $m: $(cat /tmp/insmod.err)"
  done
}

# Ends the case before tessaly runs: a case whose machine is not as the case
# says would test nothing.
setup_failed() {
  echo "$*" >> /tmp/setup_error
  emit setup_error
  finish
}

# Waits until `count` entries exist in a sysfs folder (up to 30 s).
wait_for() {
  folder=$1 pattern=$2 count=$3 tries=0
  while [ "$(ls "$folder" 2> /dev/null | grep -c "$pattern")" -lt "$count" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 300 ]; then setup_failed "timed out waiting for $count entries in $folder"; fi
    sleep 0.1
  done
}

emit() {
  echo "@@file $1" > "$results"
  base64 "/tmp/$1" > "$results"
  echo "@@end" > "$results"
}

[ -f "$case_dir/settings" ] || setup_failed "no case '$tcase'"
. "$case_dir/settings"

load_group base
# The USB scan has found the disks once they appear on the SCSI bus.
wait_for /sys/bus/scsi/devices '^[0-9]*:[0-9]*:[0-9]*:[0-9]*$' "$DISKS"
if [ "$LOAD_SG" = 1 ]; then
  load_group sg
  wait_for /sys/class/scsi_generic '^sg' "$DISKS"
fi
hold_player() {
  load_group mount
  wait_for /sys/class/block '^sd[a-z]1$' 1
  case $HOLD_PLAYER in
    mount)
      mount -t vfat -o ro /dev/sda1 /mnt 2> /tmp/setup_error || setup_failed "mounting /dev/sda1 failed" ;;
    loop)
      load_group loop
      wait_for /sys/class/block '^loop0$' 1
      losetup /dev/loop0 /dev/sda1 2> /tmp/setup_error || setup_failed "losetup /dev/loop0 /dev/sda1 failed"
      mount -t vfat -o ro /dev/loop0 /mnt 2> /tmp/setup_error || setup_failed "mounting /dev/loop0 failed" ;;
    swap)
      mkswap /dev/sda1 > /dev/null 2> /tmp/setup_error || setup_failed "mkswap /dev/sda1 failed"
      dd if=/dev/sda1 of=/tmp/setup_page bs=4096 count=1 2> /dev/null
      cat /sys/class/block/sda1/start > /tmp/setup_start
      emit setup_page
      emit setup_start
      swapon /dev/sda1 2> /tmp/setup_error || setup_failed "swapon /dev/sda1 failed" ;;
    *)
      setup_failed "unknown HOLD_PLAYER '$HOLD_PLAYER'" ;;
  esac
}

release_player() {
  case $HOLD_PLAYER in
    mount) umount /mnt ;;
    loop) umount /mnt && losetup -d /dev/loop0 ;;
    swap) swapoff /dev/sda1 ;;
  esac
}

[ -n "$HOLD_PLAYER" ] && hold_player

# The block devices the kernel shows, one a line, a partition with its start
# sector ("sda1 63"), with the disk driver loaded. Opening the first disk
# waits until the kernel has read its partition table once, so the list
# before the run is complete.
list_blocks() {
  tries=0
  until dd if=/dev/sda of=/dev/null count=0 2> /dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 300 ]; then setup_failed "/dev/sda could not be opened within 30 s"; fi
    sleep 0.1
  done
  for block in /sys/class/block/*; do
    echo "${block##*/} $(cat "$block/start" 2> /dev/null)"
  done > "/tmp/$1"
  emit "$1"
}
if [ "$BLOCKS" = 1 ]; then
  load_group mount
  list_blocks blocks_before
fi

if [ -n "$SG_MODE" ]; then
  chown 0:6 /dev/sg*
  chmod "$SG_MODE" /dev/sg*
fi

if [ -f "$case_dir/script.sh" ]; then
  . "$case_dir/script.sh" > /tmp/stdout1 2> /tmp/stderr1
  echo $? > /tmp/status1
  emit stdout1
  emit stderr1
  emit status1
  finish
fi

run_tessaly() {
  if [ -n "$RUN_AS" ]; then
    su -s /bin/sh "$RUN_AS" -c 'exec tessaly "$@"' tessaly "$@"
  else
    tessaly "$@"
  fi
}

# The undo journals stay in the machine's memory.
export TESSALY_UNDO_DIR=/tmp/undo
mkdir -p /tmp/undo && chmod 1777 /tmp/undo

set --
while IFS= read -r arg; do set -- "$@" "$arg"; done < "$case_dir/args"
cd /tmp
run_tessaly "$@" < "$case_dir/answers" > /tmp/stdout1 2> /tmp/stderr1
echo $? > /tmp/status1
emit stdout1
emit stderr1
emit status1
[ "$BLOCKS" = 1 ] && list_blocks blocks_after
if [ "$SECOND_RUN" = 1 ]; then
  printf 'cancel\ncancel\n' | run_tessaly "$@" > /tmp/stdout2 2> /tmp/stderr2
  echo $? > /tmp/status2
  emit stdout2
  emit stderr2
  emit status2
fi
if [ "$UNDO" = 1 ]; then
  journal=$(grep -o 'to put them back: tessaly-undo "[^"]*"' /tmp/stderr1 | tail -n 1 | tr -d '"')
  echo yes | tessaly-undo "${journal##* }" > /tmp/stdout_undo 2> /tmp/stderr_undo
  echo $? > /tmp/status_undo
  emit stdout_undo
  emit stderr_undo
  emit status_undo
fi
[ -n "$HOLD_PLAYER" ] && release_player
finish
