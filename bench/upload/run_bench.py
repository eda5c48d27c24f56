#!/usr/bin/python3
"""Publish benchmark: quillant --upload of a generated catalogue site to pyftpdlib
on 127.0.0.1, beside lftp mirroring the same folder to the same server in the
same run:

  lftp       lftp -e "mirror -R --parallel=1 ..." as it comes
  lftp-lean  the same with "set ftp:use-feat no; set ftp:ssl-allow no" and
             "mirror -R --no-perms --no-umask --ignore-time" (no SITE CHMOD, no
             MFMT, no FEAT or AUTH at log-in)

The sites are made as the site benchmark makes them (its workbook, the sample
design, quillant --no-gui). Every run sends into a fresh remote folder. The
three tools run back to back in each repetition, in a rotating order; the
ratios are taken within each repetition and their median is printed, beside
the medians of the times. Peak memory (maximum resident set) of each upload
is measured for every site size, to show that it does not grow with the site.

With --sync it times sync mode instead, on the --timed site, three pairs per
repetition, each run into its own folder:

  (a) full sync, 1 connection   quillant --upload --sync into an empty folder
                                against lftp mirror -R --parallel=1
  (b) full sync, 4 connections  --parallel 4 against lftp mirror -R --parallel=4
  (c) re-publish, 10 changed    ten detail pages changed (and so newer), then
                                quillant --sync into its folder of (a) against
                                lftp mirror -R --only-newer into lftp's of (a)

lftp runs as it comes and lean, as above; lean (c) keeps the modification
times (no --ignore-time), which --only-newer needs.

With --tls it times explicit FTP over TLS instead: two folders, 1,000
files of 5 KB and 100 files of 1 MiB, each published by quillant --upload
(Security "explicit", the server's self-signed certificate pinned by
TlsFingerprint) and by lftp mirror -R --parallel=1 with "set ftp:ssl-force
true; set ftp:ssl-protect-data true; set ssl:verify-certificate no", to the
same pyftpdlib TLS server (tests/upload/ftpd.py --tls, a certificate made
with openssl), back to back in a rotating order, each run into a fresh
folder. The server speaks TLS 1.2 at most: with TLS 1.3 lftp 4.9 at times
leaves a file short on this server (it closes its data connection with the
server's session tickets unread, and the reset discards what the server
had not read yet), and a run that does not publish everything is no run.

Usage: /usr/bin/python3 bench/upload/run_bench.py [--bin build/bin] [--sizes 10000,40000]
                                                 [--timed 10000] [--reps 5] [--work DIR] [--keep]
                                                 [--sync | --tls]

--timed names the size whose uploads are timed against lftp; the other sizes
are published once by quillant alone, for peak memory. Needs lftp
(scripts/bootstrap --bench), python3-pyftpdlib and python3-xlwt.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "bench", "site"))
import run_bench as site  # noqa: E402  (the site benchmark's catalogue)


def timed(cmd, **kw):
    """Runs cmd under /usr/bin/time -v; returns (seconds, peak RSS in MB, stdout)."""
    t = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       text=True, **kw)
    if t.returncode != 0:
        sys.exit("failed (%d): %s\n%s\n%s" % (t.returncode, " ".join(cmd), t.stdout[-2000:], t.stderr[-2000:]))
    wall = re.search(r"Elapsed \(wall clock\) time.*: (?:(\d+):)?(\d+):([\d.]+)", t.stderr)
    h, m, s = wall.groups()
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", t.stderr).group(1)) / 1024
    return int(h or 0) * 3600 + int(m) * 60 + float(s), rss, t.stdout


def start_server(root, log):
    server = subprocess.Popen(["/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", "0", "-w",
                               "-d", root, "-u", "user", "-P", "pw"],
                              stdout=log, stderr=subprocess.STDOUT)
    for _ in range(150):
        with open(log.name) as f:
            m = re.search(r"starting FTP server on 127\.0\.0\.1:(\d+)", f.read())
        if m:
            return server, m.group(1)
        if server.poll() is not None:
            break
        time.sleep(0.1)
    server.kill()
    sys.exit("pyftpdlib did not start")


def set_upload_settings(tagdoc, prj, port, server_path):
    text = subprocess.run([tagdoc, "print", prj], check=True, stdout=subprocess.PIPE).stdout.decode("utf-8")
    for name, value in (("Ip", "127.0.0.1"), ("Port", port), ("User", "user"), ("Password", "pw"),
                        ("ServerPath", server_path), ("PassMode", "1")):
        text = re.sub(r' %s="[^"]*"' % name, ' %s="%s"' % (name, value), text, count=1)
    subprocess.run([tagdoc, "build", "-", prj], check=True, input=text.encode("utf-8"))


def make_site(quillant, design, base, n):
    """A project with the generated site of n items; returns its ProjectDef.prj."""
    project = os.path.join(base, "site%d" % n)
    shutil.copytree(design, project)
    site.make_workbook(os.path.join(project, "Data.xls"), n)
    subprocess.run([quillant, "--no-gui", os.path.join(project, "ProjectDef.prj")], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(project, "ProjectDef.prj")


def tree_size(folder):
    files = total = 0
    for dirpath, _, names in os.walk(folder):
        for name in names:
            files += 1
            total += os.path.getsize(os.path.join(dirpath, name))
    return files, total


def same_tree(a, b):
    return subprocess.run(["diff", "-rq", "-x", ".quillant-manifest", a, b],
                          stdout=subprocess.DEVNULL).returncode == 0


LEAN = "set ftp:use-feat no; set ftp:ssl-allow no; "


def lftp_command(lftp, port, script):
    return [lftp, "-u", "user,pw", "-p", port, "-e", script + "; quit", "127.0.0.1"]


def sync_bench(args, quillant, tagdoc, lftp, project, output, remote, port):
    """The three sync pairs of --sync; returns {scenario: {tool: [seconds]}}."""
    details = sorted(n for n in os.listdir(output) if n.startswith("Detail_"))
    changed = details[::max(1, len(details) // 10)][:10]
    scenarios = {
        "a": [("quillant", 1), ("lftp", 1), ("lftp-lean", 1)],
        "b": [("quillant", 4), ("lftp", 4), ("lftp-lean", 4)],
        "c": [("quillant", 1), ("lftp", 1), ("lftp-lean", 1)],
    }
    times = {sc: {tool: [] for tool, _ in tools} for sc, tools in scenarios.items()}

    def command(scenario, tool, n, folder):
        if tool == "quillant":
            set_upload_settings(tagdoc, project, port, "/" + folder)
            return [quillant, "--upload", "--sync", "--parallel", str(n), project]
        if scenario == "c":
            opts = "--only-newer" + (" --no-perms --no-umask" if tool == "lftp-lean" else "")
        else:
            opts = "--parallel=%d" % n + (" --no-perms --no-umask --ignore-time" if tool == "lftp-lean" else "")
        return lftp_command(lftp, port, (LEAN if tool == "lftp-lean" else "") +
                            "mirror -R %s %s /%s" % (opts, output, folder))

    for rep in range(args.reps):
        for scenario, tools in scenarios.items():
            if scenario == "c":
                for name in changed:
                    with open(os.path.join(output, name), "a") as f:
                        f.write("<!-- changed in round %d -->\n" % (rep + 1))
            order = tools[rep % 3:] + tools[:rep % 3]
            for tool, n in order:
                # (c) publishes again into the folder that (a) filled.
                folder = "%s-%s-%d" % (tool, "a" if scenario == "c" else scenario, rep)
                seconds, _, out = timed(command(scenario, tool, n, folder))
                if not same_tree(output, os.path.join(remote, folder)):
                    sys.exit("%s did not leave the whole site in %s (%s)" % (tool, folder, scenario))
                if scenario == "c" and tool == "quillant" and "Uploaded %d files" % len(changed) not in out:
                    sys.exit("quillant sent more than the changed pages:\n" + out[-500:])
                times[scenario][tool].append(seconds)
            print("rep %d (%s): %s" % (rep + 1, scenario, ", ".join(
                "%s %.2f s" % (t, times[scenario][t][-1]) for t, _ in tools)), flush=True)
    return times


def report_sync(times, files, total, reps):
    med = statistics.median
    titles = {"a": "(a) full sync, 1 connection, against mirror -R --parallel=1",
              "b": "(b) full sync, 4 connections, against mirror -R --parallel=4",
              "c": "(c) re-publish after changing 10 pages, against mirror -R --only-newer"}
    print("\nSync mode: %d files (%.1f MB) to pyftpdlib on 127.0.0.1, medians of %d runs; load average %s"
          % (files, total / 1e6, reps, " ".join("%.1f" % x for x in os.getloadavg())))
    for scenario, title in titles.items():
        print(title)
        t = times[scenario]
        for tool, runs in t.items():
            print("  %-10s %7.2f s   runs: %s" % (tool, med(runs), " ".join("%.2f" % x for x in runs)))
        for anchor in ("lftp", "lftp-lean"):
            ratios = [q / a for q, a in zip(t["quillant"], t[anchor])]
            print("  quillant / %-9s per run: %s (median %.2f; below 1 is faster)"
                  % (anchor, " ".join("%.2f" % r for r in ratios), med(ratios)))


def tls_bench(args, quillant, tagdoc, lftp):
    """--tls: quillant against lftp over explicit TLS; prints medians and ratios."""
    work = args.work
    pem = os.path.join(work, "server.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", pem, "-out", pem + ".crt",
                    "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(pem, "a") as out, open(pem + ".crt") as crt:
        out.write(crt.read())
    fingerprint = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", pem],
                                 check=True, stdout=subprocess.PIPE, text=True).stdout.strip().split("=", 1)[1]
    design_prj = os.path.join(args.bin, "HtmlDesign", "Standard", "Modern", "ProjectDef.prj")
    sets = {"1000 x 5 KB": (1000, 5 * 1024), "100 x 1 MiB": (100, 1 << 20)}
    projects = {}
    for name, (count, size) in sets.items():
        project = os.path.join(work, "tls-%d" % count)
        output = os.path.join(project, "Output")
        os.makedirs(output)
        shutil.copy(design_prj, project)
        for i in range(count):
            with open(os.path.join(output, "f%04d.bin" % i), "wb") as f:
                f.write(os.urandom(size))
        projects[name] = os.path.join(project, "ProjectDef.prj")
    remote = os.path.join(work, "remote-tls")
    os.makedirs(remote)
    log = open(os.path.join(work, "ftpd-tls.log"), "w")
    server = subprocess.Popen(["/usr/bin/python3", os.path.join(ROOT, "tests", "upload", "ftpd.py"), remote,
                               "--tls", pem, "--tls12"], stdout=log, stderr=subprocess.STDOUT)
    port = None
    for _ in range(150):
        with open(log.name) as f:
            m = re.search(r"starting FTP server on 127\.0\.0\.1:(\d+)", f.read())
        if m:
            port = m.group(1)
            break
        time.sleep(0.1)
    if not port:
        server.kill()
        sys.exit("the TLS test server did not start")
    tls = "set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:verify-certificate no; "
    tools = ["quillant", "lftp"]
    times = {name: {t: [] for t in tools} for name in sets}
    try:
        for rep in range(args.reps):
            for name, prj in projects.items():
                output = os.path.join(os.path.dirname(prj), "Output")
                for tool in tools[rep % 2:] + tools[:rep % 2]:
                    folder = "%s-%d-%d" % (tool, sets[name][0], rep)
                    if tool == "quillant":
                        set_upload_settings(tagdoc, prj, port, "/" + folder)
                        text = subprocess.run([tagdoc, "print", prj], check=True,
                                              stdout=subprocess.PIPE).stdout.decode("utf-8")
                        if ' Security="' not in text:
                            text = text.replace(' Port="%s"' % port, ' Port="%s" Security="explicit" TlsFingerprint="%s"'
                                                % (port, fingerprint), 1)
                            subprocess.run([tagdoc, "build", "-", prj], check=True, input=text.encode("utf-8"))
                        cmd = [quillant, "--upload", prj]
                    else:
                        cmd = lftp_command(lftp, port, tls + "mirror -R --parallel=1 %s /%s" % (output, folder))
                    seconds, _, _ = timed(cmd)
                    if not same_tree(output, os.path.join(remote, folder)):
                        sys.exit("%s did not publish the whole folder (%s)" % (tool, name))
                    times[name][tool].append(seconds)
                print("rep %d (%s): %s" % (rep + 1, name, ", ".join(
                    "%s %.2f s" % (t, times[name][t][-1]) for t in tools)), flush=True)
    finally:
        server.terminate()
        server.wait(10)
        log.close()
    med = statistics.median
    print("\nExplicit FTP over TLS to pyftpdlib's TLS handler on 127.0.0.1, one connection, medians of %d runs;"
          " load average %s" % (args.reps, " ".join("%.1f" % x for x in os.getloadavg())))
    for name in sets:
        t = times[name]
        print(name)
        for tool in tools:
            print("  %-9s %7.2f s   runs: %s" % (tool, med(t[tool]), " ".join("%.2f" % x for x in t[tool])))
        ratios = [q / a for q, a in zip(t["quillant"], t["lftp"])]
        print("  quillant / lftp per run: %s (median %.2f; below 1 is faster)"
              % (" ".join("%.2f" % r for r in ratios), med(ratios)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    ap.add_argument("--sizes", default="10000,40000")
    ap.add_argument("--timed", type=int, default=10000)
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--work", default=os.path.join(ROOT, "out", "bench-upload-%d" % int(time.time())))
    ap.add_argument("--keep", action="store_true")
    ap.add_argument("--sync", action="store_true")
    ap.add_argument("--tls", action="store_true")
    args = ap.parse_args()
    if args.sync:
        args.sizes = str(args.timed)
    quillant = os.path.join(args.bin, "quillant")
    tagdoc = os.path.join(args.bin, "tagdoc")
    design = os.path.join(args.bin, "HtmlDesign", "Standard", "Modern")
    lftp = shutil.which("lftp")
    if not lftp:
        sys.exit("lftp is missing: scripts/bootstrap --bench")
    if args.tls:
        os.makedirs(args.work)
        tls_bench(args, quillant, tagdoc, lftp)
        if not args.keep:
            shutil.rmtree(args.work)
        return
    sizes = sorted({int(s) for s in args.sizes.split(",")} | {args.timed})
    os.makedirs(args.work)
    remote = os.path.join(args.work, "remote")
    os.makedirs(remote)

    projects = {n: make_site(quillant, design, args.work, n) for n in sizes}
    outputs = {n: os.path.join(os.path.dirname(p), "Output") for n, p in projects.items()}
    for n in sizes:
        files, total = tree_size(outputs[n])
        print("site of %d items: %d files, %.1f MB" % (n, files, total / 1e6), flush=True)

    log = open(os.path.join(args.work, "ftpd.log"), "w")
    server, port = start_server(remote, log)
    if args.sync:
        try:
            times = sync_bench(args, quillant, tagdoc, lftp, projects[args.timed], outputs[args.timed], remote, port)
        finally:
            server.terminate()
            server.wait(10)
            log.close()
        report_sync(times, *tree_size(outputs[args.timed]), args.reps)
        if not args.keep:
            shutil.rmtree(args.work)
        return
    try:
        lftp_base = ["-u", "user,pw", "-p", port]
        commands = {
            "lftp": lambda folder: [lftp] + lftp_base + [
                "-e", "mirror -R --parallel=1 %s /%s; quit" % (outputs[args.timed], folder), "127.0.0.1"],
            "lftp-lean": lambda folder: [lftp] + lftp_base + [
                "-e", "set ftp:use-feat no; set ftp:ssl-allow no; mirror -R --parallel=1 --no-perms --no-umask "
                "--ignore-time %s /%s; quit" % (outputs[args.timed], folder), "127.0.0.1"],
        }

        def quillant_upload(n, folder):
            set_upload_settings(tagdoc, projects[n], port, "/" + folder)
            return [quillant, "--upload", projects[n]]

        tools = ["quillant", "lftp", "lftp-lean"]
        times = {t: [] for t in tools}
        peak = {n: [] for n in sizes}
        for rep in range(args.reps):
            order = tools[rep % 3:] + tools[:rep % 3]
            for tool in order:
                folder = "%s-%d" % (tool, rep)
                cmd = quillant_upload(args.timed, folder) if tool == "quillant" else commands[tool](folder)
                seconds, rss, _ = timed(cmd)
                if not same_tree(outputs[args.timed], os.path.join(remote, folder)):
                    sys.exit("%s did not publish the whole site" % tool)
                times[tool].append(seconds)
                if tool == "quillant":
                    peak[args.timed].append(rss)
            print("rep %d: %s" % (rep + 1, ", ".join("%s %.2f s" % (t, times[t][-1]) for t in tools)), flush=True)
        for n in sizes:
            if n == args.timed:
                continue
            seconds, rss, _ = timed(quillant_upload(n, "quillant-n%d" % n))
            peak[n].append(rss)
            print("site of %d items: quillant %.2f s, peak %.1f MB" % (n, seconds, rss), flush=True)
    finally:
        server.terminate()
        server.wait(10)
        log.close()

    med = statistics.median
    files, total = tree_size(outputs[args.timed])
    print("\nWhole-site publish of %d files (%.1f MB, the %d-item catalogue) to pyftpdlib on 127.0.0.1,"
          " medians of %d runs" % (files, total / 1e6, args.timed, args.reps))
    print("%-10s %9s %9s" % ("tool", "seconds", "files/s"))
    for t in tools:
        print("%-10s %9.2f %9.0f   runs: %s" % (t, med(times[t]), files / med(times[t]),
                                              " ".join("%.2f" % x for x in times[t])))
    for anchor in ("lftp", "lftp-lean"):
        ratios = [q / a for q, a in zip(times["quillant"], times[anchor])]
        print("quillant / %-9s per run: %s (median %.2f; below 1 is faster)"
              % (anchor, " ".join("%.2f" % r for r in ratios), med(ratios)))
    print("\npeak memory of quillant --upload (maximum resident set)")
    for n in sizes:
        print("  %6d items: %6.1f MB" % (n, max(peak[n])))
    if len(sizes) > 1:
        a, b = sizes[0], sizes[-1]
        print("  %d -> %d items (x%.1f files): peak memory x%.2f"
              % (a, b, tree_size(outputs[b])[0] / tree_size(outputs[a])[0], max(peak[b]) / max(peak[a])))
    if not args.keep:
        shutil.rmtree(args.work)


if __name__ == "__main__":
    main()
