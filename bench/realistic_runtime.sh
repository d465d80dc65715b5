# Sourced by the benchmarks that need a runtime of real shape: defines
#   realistic_runtime FOLDER JAVA_EXE JAVAW_EXE [JDK]
# which makes FOLDER anew as the JDK's jlink image of the modules an
# installer needs (about 154 files and 125 MB, with its own release file),
# links followed, its bin holding only the given java.exe and javaw.exe.
# JDK defaults to /usr/lib/jvm/java-17-openjdk-amd64.
realistic_runtime() {
  local folder=$1 java=$2 javaw=$3 jdk=${4:-/usr/lib/jvm/java-17-openjdk-amd64}
  [ -x "$jdk/bin/jlink" ] || { echo "no jlink in $jdk" >&2; return 1; }
  rm -rf "$folder.image" "$folder"
  "$jdk/bin/jlink" --add-modules \
    java.se,jdk.unsupported,jdk.crypto.ec,jdk.zipfs,jdk.localedata,jdk.charsets,jdk.accessibility \
    --no-header-files --no-man-pages --output "$folder.image"
  cp -rL "$folder.image" "$folder"
  rm -rf "$folder.image" "${folder:?}/bin"
  mkdir "$folder/bin"
  cp "$java" "$folder/bin/java.exe"
  cp "$javaw" "$folder/bin/javaw.exe"
}
