# Runs in place of the usual run (see init.sh), with the disk driver bound:
# the repair; the USB device de-authorised through sysfs, as when its cable
# is pulled, 2,000 commands into the FAT copy, and authorised again once
# tessaly has ended (and let go of the old device); tessaly-undo on the
# journal. tessaly's output goes back as the run's, tessaly-undo's as the
# undo step's.
load_group mount
wait_for /sys/class/block '^sda$' 1
sg=$(ls /sys/class/scsi_generic)
usb=$(readlink -f /sys/class/scsi_generic/$sg/device)
while [ ! -f "$usb/idVendor" ]; do usb=${usb%/*}; done
commands() { echo $(( $(cat /sys/class/scsi_generic/$sg/device/iorequest_cnt) )); }
printf '\nok\nok\n' | TESSALY_UNDO_DIR=/tmp/undo tessaly > /tmp/run.out 2> /tmp/run.err &
pid=$!
while kill -0 $pid 2> /dev/null && ! grep -q 'to put them back' /tmp/run.err; do sleep 0.05; done
start=$(commands)
while kill -0 $pid 2> /dev/null && [ $(( $(commands) - start )) -lt 2000 ]; do sleep 0.02; done
echo 0 > "$usb/authorized"
wait $pid
status=$?
while [ -n "$(ls /sys/class/scsi_generic)" ]; do sleep 0.1; done
echo 1 > "$usb/authorized"
wait_for /sys/class/block '^sd[a-z]$' 1
journal=$(grep -o -m 1 'tessaly-undo "[^"]*"' /tmp/run.err | tr -d '"')
echo yes | tessaly-undo "${journal#* }" > /tmp/stdout_undo 2> /tmp/stderr_undo
echo $? > /tmp/status_undo
for f in stdout_undo stderr_undo status_undo; do emit $f; done
cat /tmp/run.out
cat /tmp/run.err >&2
(exit $status)
