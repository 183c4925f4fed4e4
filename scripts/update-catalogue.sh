#!/usr/bin/env bash
# The text catalogue: the German texts of ui/ and app/ (marked with tr(), German() and
# StartupText()) are collected by xgettext into po/veldmoor-launcher.pot, and every translation
# po/<language>.po is brought up to date with it by msgmerge; new texts then stand untranslated
# in it until a translator fills them in.
#
#   scripts/update-catalogue.sh           update po/veldmoor-launcher.pot and po/*.po
#   scripts/update-catalogue.sh --check   change nothing; fail when a marked text has no
#                                         translation in a po/*.po, a translation does not
#                                         keep its text's %s and %ld, or the .pot is stale
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in xgettext msgmerge msgcmp msgfmt; do
  command -v "$tool" >/dev/null || { echo "update-catalogue: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

# Writes the template of the texts the sources mark now to $1.
make_template() {
  find ui app -name '*.cpp' -o -name '*.h' | LC_ALL=C sort |
    xgettext --files-from=- --output="$1" --language=C++ --from-code=UTF-8 \
      --keyword=tr --keyword=German --keyword=StartupText --add-location=file \
      --package-name="Veldmoor Launcher" --msgid-bugs-address="https://www.veldmoor.example" \
      --copyright-holder="Veldmoor-Team"
}

if [ "${1:-}" = "--check" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  make_template "$work/now.pot"
  status=0
  # Untranslated and fuzzy entries count as missing.
  for po in po/*.po; do
    msgcmp "$po" "$work/now.pot" || { echo "update-catalogue: $po lacks translations (run scripts/update-catalogue.sh, then translate)" >&2; status=1; }
    msgfmt --check --output-file=/dev/null "$po" || status=1
  done
  # The values a text fills in ("%1" to "%9") are not C formats, so msgfmt does not check them:
  # each translation must keep every one of its text's.
  for po in po/*.po; do
    msgexec -i "$po" sh -c 'id=$(printf "%s" "$MSGEXEC_MSGID" | grep -o "%[1-9]" | sort | tr -d "\n")
      str=$(cat | grep -o "%[1-9]" | sort | tr -d "\n")
      [ -z "$MSGEXEC_MSGID" ] || [ "$id" = "$str" ] ||
        { echo "update-catalogue: $0: the translation of \"$MSGEXEC_MSGID\" does not keep its values" >&2; exit 1; }' "$po" ||
      status=1
  done
  msgcmp --use-untranslated po/veldmoor-launcher.pot "$work/now.pot" ||
    { echo "update-catalogue: po/veldmoor-launcher.pot is stale (run scripts/update-catalogue.sh)" >&2; status=1; }
  exit $status
fi

make_template po/veldmoor-launcher.pot
for po in po/*.po; do
  msgmerge --quiet --update --backup=none --add-location=file "$po" po/veldmoor-launcher.pot
done
