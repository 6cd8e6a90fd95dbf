#!/bin/bash
# Prints the structure facts a reviewer checks: names that must stay gone, the run-time lookups, the message loops
# and the longest functions of each layer.
set -euo pipefail
cd "$(dirname "$0")/.."
sources() { find sys engine ui app -name '*.cpp' -o -name '*.h' | sort; }

echo "Removed names (each count should be 0):"
for pattern in 'AddRow' 'kRow[A-Z]' 'batchKind'; do
    printf '  %-12s %s\n' "$pattern" "$(sources | grep -v '^app/Startup' | xargs grep -wcE -- "$pattern" |
        awk -F: '{s+=$2} END {print s+0}')"
done
printf '  %-12s %s\n' 'GetProcAddress outside sys/DynamicCalls' \
    "$(sources | grep -v '^sys/DynamicCalls' | xargs grep -c 'GetProcAddress' | awk -F: '{s+=$2} END {print s+0}')"

echo "Places that take messages from the queue (calls, not definitions):"
sources | xargs grep -nE '(GetMessageW|PeekMessageW|MsgWaitForMultipleObjects|NextEvent|pumpEvent|PumpMessages)\(' |
    grep -vE '^[^:]+\.h:|^[^:]+:[0-9]+:(bool|int|static|[A-Za-z]+ [A-Za-z:]+::)' | grep -vE '^[^:]+:[0-9]+: *//' |
    sed 's/^/  /' || true

echo "Longest functions:"
python3 - <<'PY'
import glob, re
rows = []
for path in sorted(glob.glob('*/*.cpp')):
    if path.split('/')[0] not in ('sys', 'engine', 'ui', 'app'):
        continue
    text = open(path, encoding='utf-8').read()
    # Blank out comments and strings so that their braces don't count.
    text = re.sub(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])*\'',
                  lambda m: re.sub(r'[^\n]', ' ', m.group(0)), text, flags=re.S)
    depth, head, start, name = 0, '', None, None
    for number, line in enumerate(text.split('\n'), 1):
        if line.lstrip().startswith('#'):
            continue
        for ch in line:
            if ch == '{':
                if depth == 0 and start is None and ')' in head and not re.search(r'\b(namespace|struct|class|enum)\b', head):
                    start, name = head_line, ' '.join(head.split())[:80]
                depth += 1
                head = ''
            elif ch == '}':
                depth -= 1
                if depth == 0 and start is not None:
                    rows.append((number - start + 1, path, name))
                    start = None
                head = ''
            elif ch == ';' and depth == 0:
                head = ''
            else:
                if depth == 0 and not head.strip() and not ch.isspace():
                    head_line = number
                if depth == 0:
                    head += ch
        if depth == 0:
            head += ' '
for layer in ('app', 'ui', 'engine', 'sys'):
    mine = sorted((r for r in rows if r[1].startswith(layer + '/')), reverse=True)[:3]
    for lines, path, name in mine:
        print(f'  {lines:4d} {path}: {name}')
PY
