#!/usr/bin/env python3
"""Ends a playing stream in the test environment's PulseAudio, as Windows ends the audio
connection of an output that is unplugged: `pulse_kill_stream.py SINK_INPUT_INDEX`.

pactl (16.1) has no command for this and pacmd needs a daemon with a PID file, so this
loads PulseAudio's command-line module on a socket of its own, gives it the
`kill-sink-input` command and unloads it again. PULSE_SERVER must name the server."""

import os
import socket
import subprocess
import sys
import tempfile


def main():
    index = int(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="morlett-pulse-cli.") as folder:
        path = os.path.join(folder, "cli")
        module = subprocess.run(
            ["pactl", "load-module", "module-cli-protocol-unix", "socket=" + path],
            capture_output=True, text=True, timeout=10, check=True).stdout.strip()
        try:
            with socket.socket(socket.AF_UNIX) as cli:
                cli.settimeout(10)
                cli.connect(path)
                # Not "exit": to this module that ends the whole daemon. The end of our
                # input ends only this connection, after the command's answer.
                cli.sendall(b"kill-sink-input %d\n" % index)
                cli.shutdown(socket.SHUT_WR)
                answer = b""
                while True:
                    chunk = cli.recv(4096)
                    if not chunk:
                        break
                    answer += chunk
        finally:
            subprocess.run(["pactl", "unload-module", module], capture_output=True, timeout=10)
    # The module answers a failed command with a line starting with "No " or "Failed".
    text = answer.decode(errors="replace")
    failed = [line for line in text.splitlines()
              if line.lstrip("> ").startswith(("No ", "Failed", "Unknown"))]
    if failed:
        print("pulse_kill_stream: " + failed[0].lstrip("> "), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
