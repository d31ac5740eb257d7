# Runs in the test machine in place of the usual tessaly runs (see
# tests/vm/init.sh). One player disk over usb-bot, its FATs differing in two
# sectors, the SCSI disk driver bound
# as on any Linux machine (its queue limit sets the read-ahead length):
#   check and repair, read-ahead on    (the disk is repaired)
#   check only, read-ahead on and off, twice  (on the repaired disk)
#   the help text alone                (the cost of starting the program)
#   check and repair, read-ahead off   (after FAT1 is damaged again as it was)
# Each line: wall time from /proc/uptime (10 ms steps) and the SCSI commands
# the device received (its iorequest_cnt in sysfs), and the exit status.
load_group mount
wait_for /sys/class/block '^sda$' 1
sg=$(ls /sys/class/scsi_generic | head -n 1)

device_commands() { echo $(( $(cat /sys/class/scsi_generic/$sg/device/iorequest_cnt) )); }
centiseconds() {
  read up idle < /proc/uptime
  echo $(( ${up%.*} * 100 + 1${up#*.} - 100 ))
}

bench_run() {  # LABEL READAHEAD(1/0) ANSWERS [ARGUMENT]
  before=$(device_commands)
  start=$(centiseconds)
  printf "$3" | TESSALY_READAHEAD=$2 tessaly $4 > /tmp/bench.out 2> /dev/null
  status=$?
  took=$(( $(centiseconds) - start ))
  after=$(device_commands)
  [ "$2" = 1 ] && mode=on || mode=off
  printf '%-17s %-4s %5d.%02d s %8d commands   exit %d   %s\n' "$1" $mode $((took / 100)) $((took % 100)) \
    $((after - before)) $status "$(grep 'FAT1' /tmp/bench.out | tr '\n' ' ')"
}

echo "usb-bot, $(cat /sys/class/block/sda/queue/max_sectors_kb) KiB max_sectors_kb, 11695320 sectors"
echo "run               read-ahead   time    commands"
# A second lost cluster, far from the first, so that the FATs differ in two
# sectors (95 and 5095) as on a player whose FAT1 took a few stray writes.
printf '\377\377\377\017' | dd of=/dev/sda bs=1 seek=$(( 5095 * 512 + 40 )) conv=notrunc,fsync 2> /dev/null
dd if=/dev/sda of=/tmp/fat1 bs=512 skip=95 count=11399 2> /dev/null
bench_run "check and repair" 1 '\nok\nok\n'
bench_run "check only" 1 '\n'
bench_run "check only" 0 '\n'
bench_run "check only" 1 '\n'
bench_run "check only" 0 '\n'
# What every run costs before its first command: starting the program.
bench_run "help text only" 1 '' -?
dd if=/tmp/fat1 of=/dev/sda bs=512 seek=95 count=11399 conv=fsync 2> /dev/null
sync
bench_run "check and repair" 0 '\nok\nok\n'
