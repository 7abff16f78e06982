"""scripts/install-deps against stand-ins for apt-get, dpkg and dpkg-query on the PATH: a package
index that fails to download (apt-get update exits 100, as on a mirror mid-sync) must not stop
the set-up, and the security archive is pinned low only for an install that needs it."""

import os
import subprocess
from pathlib import Path

import pytest

SCRIPT = Path(__file__).resolve().parents[2] / "scripts" / "install-deps"

APT_GET = r"""#!/bin/sh
# Records each call; "update" fails as often as $FAKE/update-failures says, "install" succeeds
# only with the preference file that pins the security archive low, when $FAKE/needs-pin exists.
echo "$*" >> "$FAKE/calls"
case " $* " in
*" update "*)
    left=$(cat "$FAKE/update-failures")
    if [ "$left" -gt 0 ]; then echo $((left - 1)) > "$FAKE/update-failures"; exit 100; fi
    exit 0 ;;
*" install "*)
    [ -e "$FAKE/needs-pin" ] || exit 0
    for arg in "$@"; do
        case "$arg" in
        Dir::Etc::Preferences=*)
            file=${arg#Dir::Etc::Preferences=}
            cp "$file" "$FAKE/pin-seen"
            grep -q 'Pin: release l=Debian-Security' "$file" &&
                grep -q 'Pin-Priority: 50' "$file" && exit 0 ;;
        esac
    done
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100 ;;
esac
exit 0
"""

STAND_INS = {
    "apt-get": APT_GET,
    "dpkg-query": "#!/bin/sh\n[ -e \"$FAKE/all-installed\" ] && printf 'install ok installed'\n"
                  "exit 0\n",
    "dpkg": "#!/bin/sh\necho i386\n",
    "id": "#!/bin/sh\necho 0\n",
}


@pytest.fixture
def fake(tmp_path):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    for name, text in STAND_INS.items():
        (bin_dir / name).write_text(text)
        (bin_dir / name).chmod(0o755)
    state = tmp_path / "state"
    state.mkdir()
    (state / "update-failures").write_text("0")

    def run():
        env = dict(os.environ, PATH=f"{bin_dir}:/usr/bin:/bin", FAKE=str(state),
                   UNPACK_APT_RETRY_PAUSE="0", TMPDIR=str(tmp_path))
        done = subprocess.run([str(SCRIPT)], env=env, capture_output=True, text=True,
                              timeout=60)
        calls_file = state / "calls"
        return done, calls_file.read_text().splitlines() if calls_file.exists() else []

    run.state = state
    run.tmp = tmp_path
    return run


def verbs(calls):
    """What each apt-get call was: an update, a plain install or one with the pin."""
    return ["update" if " update" in f" {call}" else "install-pinned" if "Preferences" in call
            else "install" for call in calls]


def test_an_index_that_fails_twice_does_not_stop_the_set_up(fake):
    (fake.state / "update-failures").write_text("2")
    (fake.state / "needs-pin").write_text("")
    done, calls = fake()
    assert done.returncode == 0, done.stderr
    assert verbs(calls) == ["update", "update", "install", "install-pinned"]
    assert "going on with the indexes that downloaded" in done.stderr
    assert (fake.state / "pin-seen").exists()
    assert not list(fake.tmp.glob("tmp.*")), "the pin file was left behind"


def test_the_pin_is_used_only_when_an_index_is_missing(fake):
    (fake.state / "update-failures").write_text("1")  # the retry downloads everything
    done, calls = fake()
    assert done.returncode == 0, done.stderr
    assert verbs(calls) == ["update", "update", "install"]

    (fake.state / "calls").unlink()
    (fake.state / "needs-pin").write_text("")
    done, calls = fake()
    assert done.returncode != 0, "an install that fails with every index there is a failure"
    assert verbs(calls) == ["update", "install"]


def test_nothing_is_asked_of_apt_when_everything_is_installed(fake):
    (fake.state / "all-installed").write_text("")
    done, calls = fake()
    assert done.returncode == 0, done.stderr
    assert calls == []
