#!/usr/bin/python3
"""A seeded soak of `romweave --receiver` against real XMODEM peers.

Each transfer sends a payload from a real sender (lrzsz's sx, plain or -k,
or python3-xmodem in its xmodem or xmodem1k mode) to lrzsz's rx through a
relay that damages the line where the seed says and keeps every byte it
passes towards rx: the capture.  The truth is the payload and the sender's
fill up to its last frame.  romweave must read each capture into exactly
the truth or refuse it (status 3); where rx took the truth it must take it
too, unless it refused noise before the final EOT that its rules refuse (64
bytes or more, CAN CAN, or a start byte followed by the number expected
next and its complement).  Anything else is a disagreement: its capture and
story are kept in OUT/cases, and the run fails.  The bytes on the line
depend on timing as well as on the seed: --replay reads kept cases again.

  soak.py [--seeds 1,2] [--transfers 40] [--jobs 8] [--tool build/romweave]
          [--out build-soak]
  soak.py --replay [--tool build/romweave] CASE_FOLDER...
"""

import argparse
import binascii
import collections
import concurrent.futures
import glob
import json
import os
import random
import re
import select
import shutil
import subprocess
import sys
import threading
import time

SOH, STX, EOT, NAK, CAN, SUB, WANT_CRC = 1, 2, 4, 0x15, 0x18, 0x1A, 0x43
SENDERS = ['sx', 'sx-1k', 'python', 'python-1k']
# How long one end may go on alone once the other has exited: long enough
# for a sender to repeat an unanswered EOT, short against rx's own waits.
GRACE = 3.0
TRANSFER_LIMIT = 150.0
HERE = os.path.dirname(os.path.abspath(__file__))
UNFINISHED = 'no EOT at its end, so the transfer may not have finished'


# --- What the seed fixes

def payload_size(rng):
    kind = rng.random()
    if kind < 0.08:
        return 0
    if kind < 0.40:
        return rng.randint(1, 4096)
    if kind < 0.70:
        # Block and 1K multiples, their neighbours, and sx -k's edge, where
        # 896 or 897 bytes are left for the last frames.
        unit, most = rng.choice([(128, 600), (1024, 300)])
        return max(0, unit * rng.randint(1, most) +
                   rng.choice([-1, 0, 1, 896 - unit, 897 - unit]))
    return rng.randint(4097, 64 * 1024 if kind < 0.90 else 320 * 1024)


def payload_bytes(rng, size):
    """Random bytes broken by runs of bytes that mean something on the line."""
    payload = bytearray(rng.randbytes(size))
    for _ in range(rng.choice([0, 0, 2, 6]) if size else 0):
        at, length = rng.randrange(size), rng.choice([1, 2, 3, 130, 1030])
        byte = rng.choice([SOH, STX, EOT, CAN, SUB, 0, 0xFF])
        payload[at:at + length] = bytes([byte]) * len(payload[at:at + length])
    if size and rng.random() < 0.2:  # an end that looks like the fill
        tail = min(size, rng.randint(1, 200))
        payload[-tail:] = bytes([SUB]) * tail
    return bytes(payload)


def frame_sizes(sender, size):
    """The data sizes of the frames that `sender` sends for `size` bytes:
    sx -k sends 1K frames while more than seven blocks are left."""
    frames, left = [], size
    while left > 0:
        one_k = sender == 'python-1k' or sender == 'sx-1k' and left > 7 * 128
        frames.append(1024 if one_k else 128)
        left -= frames[-1]
    return frames


def garbage(rng, short):
    length = rng.randint(1, 4) if short else rng.choice(
        [rng.randint(1, 8)] * 10 + [rng.randint(9, 63)] * 7 +
        [rng.randint(64, 300)] * 3)
    noise = bytearray(rng.randbytes(length))
    for _ in range(rng.randint(0, 3)):
        noise[rng.randrange(length)] = rng.choice([SOH, STX, EOT, CAN, SUB])
    return noise.hex()


def plan_fault(rng, frames):
    """A fault on the line towards rx or on an answer towards the sender, at
    a frame or EOT counted as sent (resends too), or at the start."""
    side = 'answer' if rng.random() < 0.35 else 'line'
    pick = rng.random()
    if frames == 0 or pick < 0.25:
        target = ['eot', rng.choice([1, 1, 1, 2])]
    elif pick < 0.30 and side == 'answer':
        target = ['start', 0]
    elif pick < 0.55:  # near the end, where noise meets the EOT
        target = ['frame', rng.randint(max(1, frames - 1), frames + 1)]
    else:
        target = ['frame', rng.randint(1, frames + 1)]
    fault = {'side': side, 'target': target, 'bit': 1 << rng.randrange(8)}
    if side == 'answer':
        fault['kind'] = rng.choice(['lose'] * 6 + ['garble'] * 6 +
                                   ['twice'] * 4 + ['nak'] * 3 + ['cancel'])
        return fault
    fault['kind'] = rng.choice(['flip'] * 5 + ['drop'] * 3 + ['insert'] * 3 +
                               ['burst'] * 5 + ['trail'] * 2 +
                               ['cancel', 'lose'])
    fault.update(where=rng.random(), count=rng.choice([2, 2, 5, 10]),
                 bytes=garbage(rng, short=fault['kind'] == 'insert'))
    return fault


def plan_transfer(seed, number):
    """The plan, the payload and the truth of one transfer."""
    rng = random.Random(f'{seed}/{number}')
    sender = rng.choice(SENDERS)
    plan = {'seed': seed, 'number': number, 'sender': sender,
            'crc': rng.random() < 0.5, 'timeout': rng.choice([1, 2, 8]),
            'size': payload_size(rng)}
    frames = len(frame_sizes(sender, plan['size']))
    plan['faults'] = [plan_fault(rng, frames) for _ in range(
        rng.choice([0, 0, 1, 1, 1, 2, 2, 3, 4]))]
    payload = payload_bytes(rng, plan['size'])
    # Both senders fill the last frame with 0x1A.
    return plan, payload, payload.ljust(
        sum(frame_sizes(sender, len(payload))), bytes([SUB]))


def describe_fault(fault):
    what, n = fault['target']
    at = 'the start request' if what == 'start' else f'{what} {n}'
    if fault['side'] == 'answer':
        return f"answer to {at}: {fault['kind']}"
    size = len(fault['bytes']) // 2
    return f"{at}: {fault['kind']}" + {
        'burst': f' ({size} bytes before it)', 'insert': f' ({size} bytes)',
        'trail': f' ({size} bytes after it)',
        'cancel': f" ({fault['count']} CANs before it)"}.get(fault['kind'], '')


# --- The relay: the line between the sender and rx

def frame_bytes(number, data, crc):
    check = (binascii.crc_hqx(data, 0).to_bytes(2, 'big') if crc
             else bytes([sum(data) & 0xFF]))
    start = SOH if len(data) == 128 else STX
    return bytes([start, number, 255 - number]) + data + check


class Line:
    """Cuts the sender's bytes, which no noise has touched yet, into frames,
    EOTs and single bytes; damages them and rx's answers as the plan says;
    and records what goes towards rx."""

    def __init__(self, faults, crc):
        self.faults, self.crc = faults, crc
        self.pending, self.capture, self.placed = bytearray(), bytearray(), []
        self.sent = {'frame': 0, 'eot': 0}
        self.last, self.answered = ('start', 0), False

    def unit_size(self):
        if self.pending[0] not in (SOH, STX):
            return 1
        data = 128 if self.pending[0] == SOH else 1024
        # The check is the one the frame passes: sx switches to the CRC when
        # its first block is answered with 'C'.
        for crc in (self.crc, not self.crc):
            frame = self.pending[:3 + data + 1 + crc]
            if len(frame) == 3 + data + 1 + crc and frame == frame_bytes(
                    frame[1], bytes(frame[3:3 + data]), crc):
                self.crc = crc
                return len(frame)
        whole = len(self.pending) > data + 4
        return 3 + data + 1 + self.crc if whole else None

    def from_sender(self, data):
        self.pending += data
        out = bytearray()
        while self.pending and (size := self.unit_size()) is not None:
            unit = bytearray(self.pending[:size])
            del self.pending[:size]
            kind = {SOH: 'frame', STX: 'frame', EOT: 'eot'}.get(unit[0])
            if kind is not None:
                self.sent[kind] += 1
                self.last, self.answered = (kind, self.sent[kind]), False
                unit = self.damage(unit, len(self.capture) + len(out))
            out += unit
        self.capture += out
        return bytes(out)

    def matching(self, side):
        return [f for f in self.faults
                if f['side'] == side and tuple(f['target']) == self.last]

    def damage(self, unit, offset):
        before, after = bytearray(), bytearray()
        for fault in self.matching('line'):
            kind, noise = fault['kind'], bytes.fromhex(fault['bytes'])
            where = int(fault['where'] * len(unit))
            if kind == 'burst':
                before += noise
            elif kind == 'trail':
                after += noise
            elif kind == 'cancel':
                before += bytes([CAN]) * fault['count']
            elif kind == 'lose':
                unit = bytearray()
            elif unit and kind == 'flip':
                unit[where] ^= fault['bit']
            elif unit and kind == 'drop':
                del unit[where]
            elif unit and kind == 'insert':
                unit[where:where] = noise
            inside = kind in ('flip', 'drop', 'insert')
            self.placed.append(f'{describe_fault(fault)}' +
                               f' at its byte {where}' * inside +
                               f', the unit at capture offset {offset}')
        return before + unit + after

    def from_rx(self, data):
        out = bytearray()
        for byte in data:
            if self.sent['frame'] == 0 and byte in (NAK, WANT_CRC):
                self.crc = byte == WANT_CRC
            answer = bytes([byte])
            for fault in [] if self.answered else self.matching('answer'):
                answer = {'lose': b'', 'garble': bytes([byte ^ fault['bit']]),
                          'twice': answer * 2, 'nak': bytes([NAK]),
                          'cancel': bytes([CAN, CAN])}[fault['kind']]
                self.placed.append(f'{describe_fault(fault)}: {byte:#04x} '
                                   f'became {answer.hex() or "nothing"}')
            self.answered = True
            out += answer
        return bytes(out)


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def write(path, data):
    with open(path, 'wb') as f:
        f.write(data)


def write_all(fd, data):
    try:
        while data:
            data = data[os.write(fd, data):]
    except OSError:  # that end has gone; what it missed is recorded
        pass


def run_line(plan, payload, folder):
    """Runs one transfer: the Line, the exit statuses and rx's file."""
    payload_path, rx_path = (os.path.join(folder, name)
                             for name in ('payload.bin', 'rx.bin'))
    write(payload_path, payload)
    if plan['sender'].startswith('sx'):
        sender = ['sx', '--xmodem', '--binary', '--quiet'] + (
            ['--1k'] if plan['sender'] == 'sx-1k' else []) + [payload_path]
    else:
        sender = ['/usr/bin/python3', os.path.join(HERE, 'xmodem_send.py'),
                  'xmodem1k' if plan['sender'] == 'python-1k' else 'xmodem',
                  str(plan['timeout']), payload_path]
    rx = ['rx', '--xmodem', '--binary', '--quiet', '--unrestrict'] + (
        ['--with-crc'] if plan['crc'] else []) + [rx_path]
    line, ends = Line(plan['faults'], plan['crc']), {}
    for name, command in (('sender', sender), ('rx', rx)):
        with open(os.path.join(folder, name + '.err'), 'wb') as err:
            ends[name] = subprocess.Popen(command, stdin=subprocess.PIPE,
                                          stdout=subprocess.PIPE, stderr=err)
    peer = {'sender': ('rx', line.from_sender), 'rx': ('sender', line.from_rx)}
    reading = {ends[name].stdout.fileno(): name for name in ends}
    started, exited = time.monotonic(), {}
    while True:
        ready, _, _ = select.select(list(reading), [], [], 0.2)
        for fd in ready:
            data = os.read(fd, 65536)
            if not data:
                del reading[fd]
                continue
            other, passing = peer[reading[fd]]
            write_all(ends[other].stdin.fileno(), passing(data))
        now = time.monotonic()
        exited.update((name, now) for name, end in ends.items()
                      if name not in exited and end.poll() is not None)
        # Once the line is quiet, what the ends wrote before exiting is in.
        if now - started > TRANSFER_LIMIT or not ready and (
                len(exited) == 2 or
                exited and now - min(exited.values()) > GRACE):
            break
    statuses = {}
    for name, end in ends.items():
        if end.poll() is None:
            end.kill()
        statuses[name] = end.wait()
        end.stdin.close(), end.stdout.close()
    received = read(rx_path) if os.path.exists(rx_path) else None
    return line, statuses, received, time.monotonic() - started


# --- The verdict

def noise_conditions(capture, sender, truth):
    """Which refusals of noise before the end the capture calls for, in the
    bytes from the end of the frame taken that carries the truth's last
    block, its first sound copy (or the capture's start), to the EOT that
    ends the capture: the first behind its last byte that is not one of the
    ends of a transfer (EOT, SUB, CAN, BS).  Copies of that frame sent again
    after noise count as bytes before the end: the tool's rules do not skip
    them there."""
    sizes = frame_sizes(sender, len(truth))
    last, end = len(sizes) & 0xFF, 0
    for crc in (False, True) if sizes else ():
        frame = frame_bytes(last, truth[-sizes[-1]:], crc)
        if (at := capture.find(frame)) >= 0:
            end = at + len(frame) if end == 0 else min(end, at + len(frame))
    ends = len(capture.rstrip(bytes([EOT, SUB, CAN, 8])))
    eot = capture.find(bytes([EOT]), max(end, ends))
    if eot < 0 or sizes and end == 0:
        return [], 'no EOT that ends the capture behind a sound last frame'
    expected = bytes([(last + 1) & 0xFF, 255 - ((last + 1) & 0xFF)])
    found = [condition for condition, met in [
        ('64 bytes or more', eot - end >= 64),
        ('CAN CAN', bytes([CAN, CAN]) in capture[end:eot]),
        ('a start of the frame expected next', any(
            capture[i] in (SOH, STX) and capture[i + 1:i + 3] == expected
            for i in range(end, eot)))] if met]
    return found, f'{eot - end} bytes from offset {end} to the EOT at {eot}'


def judge(tool, folder, case, capture, truth):
    """Reads the capture with the tool: the verdict, why, and the story."""
    run = subprocess.run([tool, '--receiver', 'capture.bin', 'image.bin'],
                         cwd=folder, capture_output=True, timeout=120)
    out, err = (s.decode(errors='replace') for s in (run.stdout, run.stderr))
    image = read(os.path.join(folder, 'image.bin'))
    same = next((i for i, (a, b) in enumerate(zip(image, truth)) if a != b),
                min(len(image), len(truth)))
    why = f'the image holds the truth up to offset {same}'
    if run.returncode == 0 and image == truth:
        kind, why = 'read', ''
    elif run.returncode == 0 and truth.startswith(image) and UNFINISHED in err:
        # A capture with no EOT on the line reads as far as it goes, and
        # the note says that the transfer may not have finished.
        kind, why = 'unfinished', f'status 0 with the note, {why}'
    elif run.returncode == 0:
        kind, why = 'disagreement', f'status 0, {len(image)} bytes, {why}'
    elif run.returncode != 3:
        kind, why = 'disagreement', f'status {run.returncode}, {why}'
    elif not case['rx_took_truth']:
        kind, why = 'refused', ''
    else:
        found, span = noise_conditions(capture, case['plan']['sender'], truth)
        addresses = re.findall(r'Checking Address ([0-9A-F]+)', out)
        at_end = found and addresses and same == len(truth) and \
            int(addresses[-1], 16) == len(truth)
        kind = 'noise' if at_end else 'disagreement'
        why = (', '.join(found) if at_end else
               f'refused what rx took, {why}') + f': {span}'
    plan = case['plan']
    python = 'python' in plan['sender']
    timeout = f", timeout {plan['timeout']} s" if python else ''
    last = (out.strip().splitlines() or ['nothing'])[-1]
    story = '\n  '.join([
        f"seed {plan['seed']} transfer {plan['number']}: {kind}" +
        (f' - {why}' if why else ''),
        f"{plan['sender']}{timeout}, "
        f"{'CRC (rx -c)' if plan['crc'] else 'checksum'}, {plan['size']} "
        f"bytes, truth {len(truth)} bytes, capture {len(capture)} bytes, "
        f"{case['seconds']:.1f} s",
        'faults planned: ' + ('; '.join(map(describe_fault, plan['faults']))
                              or 'none'),
        *(f'placed: {p}' for p in case['placed']),
        f"rx: status {case['rx_status']}, {case['rx_file']}; sender status "
        f"{case['sender_status']}",
        f"romweave: status {run.returncode}, image {len(image)} bytes, last "
        f"line {last!r}; {err.strip() or 'no note'}"])
    return kind, why, story


def soak_one(tool, out, seed, number):
    plan, payload, truth = plan_transfer(seed, number)
    folder = os.path.join(out, 'work', f'seed{seed}-{number}')
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    line, statuses, received, seconds = run_line(plan, payload, folder)
    write(os.path.join(folder, 'capture.bin'), line.capture)
    write(os.path.join(folder, 'truth.bin'), truth)
    took = statuses['rx'] == 0 and received == truth
    case = {'plan': plan, 'placed': line.placed, 'seconds': seconds,
            'rx_status': statuses['rx'], 'sender_status': statuses['sender'],
            'rx_took_truth': took, 'rx_file': 'took the truth' if took else
            'no file' if received is None else f'{len(received)} bytes' +
            (', the truth' if received == truth else ', not the truth')}
    kind, why, story = judge(tool, folder, case, bytes(line.capture), truth)
    if kind in ('read', 'refused'):
        shutil.rmtree(folder)
        return kind, why, took, story
    write(os.path.join(folder, 'case.json'), json.dumps(case).encode())
    write(os.path.join(folder, 'story.txt'), story.encode() + b'\n')
    # The payload begins the truth; --replay writes the image again.
    for name in ['payload.bin', 'image.bin'] + ['rx.bin'] * took:
        os.remove(os.path.join(folder, name))
    kept = os.path.join(out, 'cases', os.path.basename(folder))
    shutil.move(folder, kept)
    return kind, why, took, story + f'\n  kept in {kept}'


def replay(tool, folders):
    """Reads kept captures again with the tool, rx's outcome as recorded."""
    kinds = []
    for folder in folders:
        case = json.loads(read(os.path.join(folder, 'case.json')))
        kind, _, story = judge(tool, folder, case, *(
            read(os.path.join(folder, name))
            for name in ('capture.bin', 'truth.bin')))
        kinds.append(kind)
        print(story + '\n')
    return 1 if 'disagreement' in kinds else 0


def main():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    parser.add_argument('--seeds', default='1')
    parser.add_argument('--transfers', type=int, default=40, help='per seed')
    parser.add_argument('--jobs', type=int, default=8)
    parser.add_argument('--tool', default='build/romweave')
    parser.add_argument('--out', default='build-soak')
    parser.add_argument('--replay', action='store_true')
    parser.add_argument('cases', nargs='*', metavar='CASE_FOLDER')
    args = parser.parse_args()
    tool = os.path.abspath(args.tool)
    if args.replay or args.cases:
        return replay(tool, args.cases)
    missing = [p for p in ('sx', 'rx') if shutil.which(p) is None]
    if subprocess.run(['/usr/bin/python3', '-c', 'import xmodem']).returncode:
        missing.append('python3-xmodem')
    if missing or not os.access(tool, os.X_OK):
        sys.exit(f'soak: missing {", ".join(missing) or tool}')
    seeds = [int(s) for s in args.seeds.split(',')]
    for seed in seeds:  # cases kept by an earlier run of these seeds
        for old in glob.glob(os.path.join(args.out, 'cases', f'seed{seed}-*')):
            shutil.rmtree(old)
    os.makedirs(os.path.join(args.out, 'cases'), exist_ok=True)
    started, lock, results = time.monotonic(), threading.Lock(), []

    def one(job):
        kind, why, took, story = soak_one(tool, args.out, *job)
        with lock:
            results.append((kind, why, took))
            if kind != 'read' or not took:
                print(story + '\n', flush=True)

    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        list(pool.map(one, [(seed, n) for seed in seeds
                            for n in range(1, args.transfers + 1)]))
    kinds = collections.Counter(kind for kind, _, _ in results)
    conditions = collections.Counter(
        found for kind, why, _ in results if kind == 'noise'
        for found in why.split(': ')[0].split(', '))
    print(f"soak: {len(results)} transfers, seeds {args.seeds}, "
          f"{time.monotonic() - started:.0f} s; rx took the truth in "
          f"{sum(took for _, _, took in results)}; romweave read the truth "
          f"in {kinds['read']} ({results.count(('read', '', False))} where "
          f"rx did not), refused {kinds['refused']} where rx did not take it"
          f" and {kinds['noise']} as noise before the end (" +
          (', '.join(f'{n} for {c}' for c, n in sorted(conditions.items()))
           or 'none') + f"); read a capture with no EOT as far as it goes: "
          f"{kinds['unfinished']}; disagreements: {kinds['disagreement']}")
    return 1 if kinds['disagreement'] else 0


if __name__ == '__main__':
    sys.exit(main())
