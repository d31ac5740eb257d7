# Runs in the test machine in place of the usual tessaly runs (see
# tests/vm/init.sh). One player disk over usb-bot, its FATs differing in two
# sectors, the SCSI disk driver bound
# as on any Linux machine (its queue limit sets the read-ahead length):
#   check and repair, read-ahead on    (the disk is repaired)
#   check only, read-ahead on, 5 times, and off once (on the repaired disk)
#   dd of the sectors the check reads, O_DIRECT, in 1 MiB and in 64 KiB
#   requests, 10 times each            (what the device itself takes)
#   the help text alone, 10 times      (the cost of starting the program)
#   check and repair, read-ahead off   (after FAT1 is damaged again as it was)
# Each line: the wall time of one run from /proc/uptime (10 ms steps, so the
# short ones are timed over several runs and divided), the SCSI commands the
# device received in one run (its iorequest_cnt in sysfs), and the exit
# status. The last line sets the check against the raw read.
load_group mount
wait_for /sys/class/block '^sda$' 1
sg=$(ls /sys/class/scsi_generic | head -n 1)

device_commands() { echo $(( $(cat /sys/class/scsi_generic/$sg/device/iorequest_cnt) )); }
centiseconds() {
  read up idle < /proc/uptime
  echo $(( ${up%.*} * 100 + 1${up#*.} - 100 ))
}

# Milliseconds of one run, from `took` centiseconds over `runs` runs.
per_run_ms() { echo $(( $1 * 10 / $2 )); }
show_ms() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }

bench_line() {  # LABEL MODE MS COMMANDS STATUS [NOTE]
  printf '%-17s %-4s %s s %8d commands   exit %d   %s\n' "$1" "$2" "$(show_ms $3)" "$4" "$5" "$6"
}

bench_run() {  # LABEL READAHEAD(1/0) ANSWERS RUNS [ARGUMENT]
  before=$(device_commands)
  start=$(centiseconds)
  n=0
  while [ $n -lt $4 ]; do
    printf "$3" | TESSALY_READAHEAD=$2 tessaly $5 > /tmp/bench.out 2> /dev/null
    status=$?
    n=$((n + 1))
  done
  ms=$(per_run_ms $(( $(centiseconds) - start )) $4)
  commands=$(( ($(device_commands) - before) / $4 ))
  [ "$2" = 1 ] && mode=on || mode=off
  bench_line "$1" $mode $ms $commands $status "$(grep 'FAT1' /tmp/bench.out | tr '\n' ' ')"
}

raw_read() {  # LABEL BLOCK_SIZE RUNS: the check's sectors, straight from the disk
  before=$(device_commands)
  start=$(centiseconds)
  n=0
  while [ $n -lt $3 ]; do
    dd if=/dev/sda of=/dev/null bs=$2 iflag=direct,count_bytes count=$((sectors * 512)) 2> /dev/null
    status=$?
    n=$((n + 1))
  done
  ms=$(per_run_ms $(( $(centiseconds) - start )) $3)
  bench_line "$1" "" $ms $(( ($(device_commands) - before) / $3 )) $status
}

echo "usb-bot, $(cat /sys/class/block/sda/queue/max_sectors_kb) KiB max_sectors_kb, 11695320 sectors"
echo "run               read-ahead   time    commands"
# A second lost cluster, far from the first, so that the FATs differ in two
# sectors (95 and 5095) as on a player whose FAT1 took a few stray writes.
printf '\377\377\377\017' | dd of=/dev/sda bs=1 seek=$(( 5095 * 512 + 40 )) conv=notrunc,fsync 2> /dev/null
dd if=/dev/sda of=/tmp/fat1 bs=512 skip=95 count=11399 2> /dev/null
bench_run "check and repair" 1 '\nok\nok\n' 1
bench_run "check only" 1 '\n' 5
check_ms=$ms
# The check reads every sector from 0 to the end of the second FAT.
found=$(sed -n 's/^Fat found on sector \([0-9]*\) .*/\1/p' /tmp/bench.out)
size=$(sed -n 's/^Fat size : \([0-9]*\) SECTORS.*/\1/p' /tmp/bench.out)
sectors=$((found + size))
bench_run "check only" 0 '\n' 1
raw_read "dd 1 MiB" 1M 10
raw_ms=$ms
raw_read "dd 64 KiB" 64k 10
# What every run costs before its first command: starting the program.
bench_run "help text only" 1 '' 10 -?
start_ms=$ms
dd if=/tmp/fat1 of=/dev/sda bs=512 seek=95 count=11399 conv=fsync 2> /dev/null
sync
bench_run "check and repair" 0 '\nok\nok\n' 1
echo "dd read sectors 0-$((sectors - 1)) ($sectors sectors) with O_DIRECT"
echo "check only, read-ahead on: $(show_ms $check_ms) s = $(( check_ms * 10 / (raw_ms + start_ms) / 10 )).$(( check_ms * 10 / (raw_ms + start_ms) % 10 )) times dd 1 MiB plus start-up ($(show_ms $((raw_ms + start_ms))) s)"
