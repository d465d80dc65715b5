#!/usr/bin/env bash
# The payloads a release engineer gives reach the launcher exactly as they
# are, from any path and whatever their dates:
#  - a table of paths holding "$", "$$", "$HOME", blanks, letters beyond
#    ASCII, quotes and "#", with a look-alike file beside some of them: the
#    chunks the build cuts are the given files, byte for byte;
#  - a ";" or an unclosed "[" in a payload path is refused, naming the
#    setting, before anything else is looked at;
#  - a jar or a ready-made runtime archive replaced by other content with an
#    older date is cut again, and a build with nothing changed cuts nothing;
#  - what checking the inputs costs each build, with a jar of 556,723,119
#    bytes (read whole only when it changed; otherwise only its status).
# usage: payload_inputs.sh SOURCE_DIR WORK_DIR RUNTIME_EXE JAR
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
runtime=$3
jar=$4
restrict_tools
b="$work/build"

# joined FOLDER BASE OUT: the chunks BASE_1, BASE_2, ... of FOLDER joined.
joined() {
  : >"$3"
  local index
  for index in $(seq 1 9999); do
    [ -f "$1/$2_$index.bin" ] || break
    cat "$1/$2_$index.bin" >>"$3"
  done
}
# cut TAG JAR RUNTIME: configures the build around the two, cuts the
# payloads and compares the chunks with them.
cut() {
  if ! configure "$b" -DBRACKENHUE_INSTALLER_ARCHIVE="$2" -DBRACKENHUE_RUNTIME_ARCHIVE="$3" ||
     ! "${tool_env[@]}" cmake --build "$b" --target payload_chunks >>"$b.log" 2>&1; then
    tail -n 30 "$b.log"
    fail "$1: the build failed"
    return
  fi
  joined "$b/resources/chunks" JAR "$work/jar.joined"
  joined "$b/resources/chunks" JAVA "$work/runtime.joined"
  same "$2" "$work/jar.joined" "$1: the jar and its chunks"
  same "$3" "$work/runtime.joined" "$1: the runtime archive and its chunks"
}

log "odd payload paths"
# A different file for the look-alikes: the demo runtime is no jar.
decoy="$runtime"
rows=(
  # tag | folder | jar name | runtime name | look-alike beside the jar
  'a $1 that Ninja would take for a variable|dollar|app$1.jar|jre$1.exe|app.jar'
  'a $$|dollars|app$$x.jar|jre$$x.exe|app$x.jar'
  'a $HOME|home$HOME|app.jar|jre.exe|'
  'blanks|my payloads|app 1.jar|jre x64 1.exe|'
  'letters beyond ASCII|Ünïcødé ✓|приложение.jar|运行时.exe|'
  'quotes|it'"'"'s "quoted"|app "1".jar|it'"'"'s.exe|'
  'a #|build #2|app#1.jar|jre#1.exe|'
)
for row in "${rows[@]}"; do
  IFS='|' read -r tag folder jarName runtimeName lookAlike <<<"$row"
  dir="$work/paths/$folder"
  mkdir -p "$dir"
  cp "$jar" "$dir/$jarName"
  cp "$runtime" "$dir/$runtimeName"
  [ -n "$lookAlike" ] && cp "$decoy" "$dir/$lookAlike"
  cut "$tag" "$dir/$jarName" "$dir/$runtimeName"
done

log "a ; or an unclosed [ in a payload path"
for setting in BRACKENHUE_INSTALLER_ARCHIVE BRACKENHUE_RUNTIME_ARCHIVE BRACKENHUE_RUNTIME_FOLDER BRACKENHUE_RUNTIME_ZIP; do
  refused="$work/refused-$setting"
  if configure "$refused" "-D$setting=$work/paths/semi;colon.jar"; then
    fail "$setting with a ; was accepted"
  else
    text=$(tr -s ' \n' ' ' <"$refused.log")
    # CMake makes each part of such a FILEPATH absolute before the build
    # sees it: the message can only name the setting and the ";".
    [[ "$text" == *"$setting is set to \"$work/paths/semi;"*"\", which holds a \";\": a CMake setting cannot carry one"* ]] &&
      echo "$setting: refused, naming the setting" || { cat "$refused.log"; fail "$setting: the refusal does not say why"; }
  fi
  refused="$work/refused-bracket-$setting"
  if configure "$refused" "-D$setting=$work/paths/jre [x64.zip"; then
    fail "$setting with an unclosed [ was accepted"
  else
    text=$(tr -s ' \n' ' ' <"$refused.log")
    [[ "$text" == *"$setting is set to \"$work/paths/jre [x64.zip\", which holds a \"[\" without its \"]\""* ]] &&
      echo "$setting: an unclosed [ refused" || { cat "$refused.log"; fail "$setting: the unclosed [ is not named"; }
  fi
done

log "payloads replaced by files with older dates"
given="$work/given"
mkdir -p "$given"
cp "$jar" "$given/app.jar"
cp "$runtime" "$given/jre.exe"
cut "first build" "$given/app.jar" "$given/jre.exe"
# cut_again TAG: builds again and says whether the payloads were cut again.
cut_again() {
  "${tool_env[@]}" cmake --build "$b" --target payload_chunks >"$work/again.log" 2>&1 ||
    { cat "$work/again.log"; fail "$1: the build failed"; }
  grep -q "Cutting payloads into chunks" "$work/again.log"
}
cut_again "nothing changed" && fail "the chunks were cut again with nothing changed" || echo "nothing changed: nothing cut"
# New content, dated a year back: as cp -p, unzip or rsync -t leave it.
other_jar="$work/other.jar"
python3 - "$jar" "$other_jar" <<'EOF'
import sys, zipfile
# The same entries in another order: another valid jar of other bytes.
with zipfile.ZipFile(sys.argv[1]) as old, zipfile.ZipFile(sys.argv[2], "w") as new:
    for info in reversed(old.infolist()):
        new.writestr(info, old.read(info.filename))
EOF
touch -d "1 year ago" "$other_jar"
cp -p "$other_jar" "$given/app.jar"
cut_again "the jar replaced by an older-dated one" && echo "older-dated jar: cut again" ||
  fail "a jar replaced by one with an older date was not cut again"
joined "$b/resources/chunks" JAR "$work/jar.joined"
same "$given/app.jar" "$work/jar.joined" "the older-dated jar and its chunks"
other_runtime="$work/other.exe"
cp "$runtime" "$other_runtime"
printf 'appended' >>"$other_runtime"
touch -d "1 year ago" "$other_runtime"
cp -p "$other_runtime" "$given/jre.exe"
cut_again "the runtime archive replaced by an older-dated one" && echo "older-dated runtime archive: cut again" ||
  fail "a runtime archive replaced by one with an older date was not cut again"
joined "$b/resources/chunks" JAVA "$work/runtime.joined"
same "$given/jre.exe" "$work/runtime.joined" "the older-dated runtime archive and its chunks"

log "what checking the inputs costs each build"
big="$work/big.jar"
truncate -s 556723119 "$big"
stamp="$work/big.stamp"
start=$(date +%s%N)
python3 "$src/resources/input_stamp.py" "$stamp" --file BRACKENHUE_INSTALLER_ARCHIVE "$big"
echo "the first check, which reads the whole jar: $(( ($(date +%s%N) - start) / 1000000 )) ms"
times=()
for run in 1 2 3 4 5; do
  start=$(date +%s%N)
  python3 "$src/resources/input_stamp.py" "$stamp" --file BRACKENHUE_INSTALLER_ARCHIVE "$big" --file \
    BRACKENHUE_RUNTIME_ARCHIVE "$runtime"
  times+=($(( ($(date +%s%N) - start) / 1000000 )))
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
echo "the check of a 556,723,119-byte jar: ${times[*]} ms, median $median ms"
[ "$median" -lt 1000 ] || fail "checking the inputs takes $median ms, more than a second"

finish "all payload input checks passed"
