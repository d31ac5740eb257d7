# Runs in the test machine in place of the usual run (see init.sh), with the
# SCSI disk driver bound as on any Linux machine: the repair, the USB device
# de-authorised through sysfs (what the kernel does when the cable is pulled)
# once the FAT copy has sent 2,000 commands, authorised again when tessaly
# has ended, and tessaly-undo on the journal the run named. tessaly's output
# goes back as the run's; tessaly-undo's as the undo step's.
load_group mount
wait_for /sys/class/block '^sda$' 1
sg=$(ls /sys/class/scsi_generic | head -n 1)
usb=$(readlink -f /sys/class/scsi_generic/$sg/device)
while [ ! -f "$usb/idVendor" ]; do usb=${usb%/*}; done
commands() { echo $(( $(cat /sys/class/scsi_generic/$sg/device/iorequest_cnt) )); }
running() { kill -0 $pid 2> /dev/null; }

export TESSALY_UNDO_DIR=/tmp/undo
mkdir -p /tmp/undo
printf '\nok\nok\n' | tessaly > /tmp/run.out 2> /tmp/run.err &
pid=$!
while running && ! grep -q 'to put them back' /tmp/run.err; do sleep 0.05; done
start=$(commands)
while running && [ $(( $(commands) - start )) -lt 2000 ]; do sleep 0.02; done
echo 0 > "$usb/authorized"
wait $pid
status=$?
# The kernel lets the old device go once tessaly has closed it; then the
# player is attached again and found anew.
tries=0
while [ -n "$(ls /sys/class/scsi_generic)" ] && [ $tries -lt 300 ]; do sleep 0.1; tries=$((tries + 1)); done
echo 1 > "$usb/authorized"
wait_for /sys/class/scsi_generic '^sg' 1
wait_for /sys/class/block '^sd[a-z]$' 1

journal=$(grep -o 'to put them back: tessaly-undo "[^"]*"' /tmp/run.err | tr -d '"')
echo yes | tessaly-undo "${journal##* }" > /tmp/stdout_undo 2> /tmp/stderr_undo
echo $? > /tmp/status_undo
emit stdout_undo
emit stderr_undo
emit status_undo
cat /tmp/run.out
cat /tmp/run.err >&2
(exit $status)
