# Source entries for `apt-get source`, taken from the machine's own apt configuration: every
# enabled "deb" entry of an archive whose release says "o=Debian" is copied with its type
# changed to "deb-src" (deb822 .sources stanzas and one-line .list entries alike). Sourced by
# the Windows scripts; ensure_deb_src does nothing when source entries are already there.

# The archive addresses apt reports as Debian's, one per line.
debian_archive_uris() {
    apt-cache policy 2>/dev/null | awk '
        $1 ~ /^[0-9]+$/ && $2 ~ /:\/\// { uri = $2; next }
        /^ *release / && uri != "" { if ($0 ~ /o=Debian(,|$)/) print uri; uri = "" }' | sort -u
}

# Writes the deb-src copies of the Debian entries to stdout: deb822 stanzas first, then
# one-line entries (in a comment-free form that apt reads in a .sources file as well).
debian_src_entries() {
    local uris
    uris=$(debian_archive_uris | sed 's:/*$::')
    [[ -n $uris ]] || return 1
    local files=()
    for f in /etc/apt/sources.list.d/*.sources; do [[ -f $f ]] && files+=("$f"); done
    ((${#files[@]})) && awk -v uris="$uris" '
        BEGIN { n = split(uris, u, "\n"); for (i = 1; i <= n; i++) debian[u[i]] = 1 }
        function flush(   i, keep, m, parts) {
            keep = 0
            if (stanza != "" && types ~ /(^| )deb( |$)/) {
                m = split(uri_list, parts, " ")
                for (i = 1; i <= m; i++) { sub(/\/+$/, "", parts[i]); if (parts[i] in debian) keep = 1 }
            }
            if (keep && enabled) printf "%s\n", stanza
            stanza = ""; types = ""; uri_list = ""; enabled = 1
        }
        BEGIN { enabled = 1 }
        /^[ \t]*$/ { flush(); next }
        /^#/ { next }
        {
            line = $0
            if (tolower($1) == "types:") { types = $0; sub(/^[^:]*:[ \t]*/, "", types); line = "Types: deb-src" }
            if (tolower($1) == "uris:") { uri_list = $0; sub(/^[^:]*:[ \t]*/, "", uri_list) }
            if (tolower($1) == "enabled:" && tolower($2) == "no") enabled = 0
            stanza = stanza line "\n"
        }
        END { flush() }' "${files[@]}"
    local lists=()
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do [[ -f $f ]] && lists+=("$f"); done
    ((${#lists[@]})) && awk -v uris="$uris" '
        BEGIN { n = split(uris, u, "\n"); for (i = 1; i <= n; i++) debian[u[i]] = 1 }
        $1 == "deb" {
            i = 2
            if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
            uri = $i; sub(/\/+$/, "", uri)
            if (uri in debian) { sub(/^deb/, "deb-src"); print }
        }' "${lists[@]}"
    return 0
}

# Makes `apt-get source PACKAGE` work: adds the deb-src copies when apt has no source for it.
ensure_deb_src() {
    local package=$1
    apt-get source --print-uris "$package" >/dev/null 2>&1 && return 0
    local entries
    entries=$(debian_src_entries) || true
    if [[ -z $entries ]]; then
        echo "no Debian archive found in the apt configuration to take a deb-src entry from" >&2
        return 1
    fi
    # One-line entries go to a .list file, stanzas to a .sources file.
    local stanzas oneline
    stanzas=$(grep -v '^deb-src ' <<<"$entries" || true)
    oneline=$(grep '^deb-src ' <<<"$entries" || true)
    [[ -n $stanzas ]] && printf '%s\n' "$stanzas" >/etc/apt/sources.list.d/zembra-deb-src.sources
    [[ -n $oneline ]] && printf '%s\n' "$oneline" >/etc/apt/sources.list.d/zembra-deb-src.list
    apt-get update -qq
}
