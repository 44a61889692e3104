#!/usr/bin/env bash
# Makes the Windows package: velquint.exe (stripped), INSTALL.txt and the
# manual as text (velquint(1) rendered by groff), with Windows' line ends,
# in one zip. Refuses an .exe that needs a DLL beyond Windows' own.
#
#   make-zip.sh EXE INSTALL.TXT MANUAL.1 ZIP
set -euo pipefail

exe="${1:?usage: make-zip.sh EXE INSTALL.TXT MANUAL.1 ZIP}"
install_text="${2:?}"
manual="${3:?}"
zip="${4:?}"
readonly MINGW=x86_64-w64-mingw32
# What velquint.exe may import: Windows' own DLLs and its C runtime.
readonly SYSTEM_DLLS="hid iphlpapi kernel32 msvcrt ole32 oleaut32 setupapi ws2_32"

if [ ! -f "$manual" ]; then
    echo "make-zip.sh: no manual page at $manual (make build writes it)" >&2
    exit 1
fi
for dll in $("$MINGW-objdump" -p "$exe" | sed -n 's/^\tDLL Name: \(.*\)\.[dD][lL][lL]$/\1/p'); do
    case " $SYSTEM_DLLS " in
        *" ${dll,,} "*) ;;
        *)
            echo "make-zip.sh: $exe needs $dll.dll, which Windows does not have" >&2
            exit 1
            ;;
    esac
done

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
"$MINGW-strip" -o "$stage/velquint.exe" "$exe"
# Plain text: no bold or underline by overstriking, no escape sequences.
groff -man -Tascii -P-c -P-b -P-o -P-u "$manual" | sed 's/$/\r/' >"$stage/velquint.txt"
sed 's/$/\r/' "$install_text" >"$stage/INSTALL.txt"
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip velquint.exe INSTALL.txt velquint.txt)
echo "$zip"
