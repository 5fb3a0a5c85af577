#!/bin/bash
# usage: run.sh SPEED N
W=/work/wt-clock/build
for i in $(seq 1 $2); do
 rm -f /tmp/clk/st /tmp/clk/db
 TONDREL_SIM_DEVICE=/tmp/clk/pp TONDREL_SIM_BENCH=sim:ATmega16 TONDREL_SIM_STATE=/tmp/clk/st TONDREL_SIM_SLOW_NS=${SLOW:-20000} \
 LD_PRELOAD=$W/preload/libtondrel_preload.so timeout 300 $W/cli/tondrel-cli --database /tmp/clk/db --port ppdev:/tmp/clk/pp --speed $1 write-eeprom /tmp/clk/e.eep > /tmp/clk/out.$1.$i 2>&1
 echo "speed $1 run $i rc $?: $(tail -1 /tmp/clk/out.$1.$i)"
done
