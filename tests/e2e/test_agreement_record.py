"""Which agreement records count as accepted: the value is read as four bytes and must hold the
number 1, whatever its type. A record that does not count opens the consent window; refusing it
leaves the record exactly as it was.
"""

import pytest

from harness import AGREEMENT_KEY, CONSENT_TITLE, WINDOW_CLASS, eventually, finish_run, wait_exit

# No files on the update server: a run that gets past the agreement ends in the self-update's
# failure box, the same way every time.
pytestmark = pytest.mark.usefixtures("server")

# type for reg.exe, data for reg.exe, the value as reg.exe exports it, accepted
RECORDS = [
    pytest.param("REG_DWORD", "1", "dword:00000001", True, id="dword-1"),
    pytest.param("REG_BINARY", "01000000", "hex:01,00,00,00", True, id="binary-01-00-00-00"),
    pytest.param("REG_SZ", "1", '"1"', False, id="string-1"),
    pytest.param("REG_QWORD", "1", "hex(b):01,00,00,00,00,00,00,00", False, id="qword-1-too-long"),
    pytest.param("REG_DWORD", "0", "dword:00000000", False, id="dword-0"),
    pytest.param("REG_DWORD", "2", "dword:00000002", False, id="dword-2"),
    pytest.param(None, None, None, False, id="key-without-value"),
    pytest.param("absent", None, None, False, id="no-key"),
]


@pytest.mark.parametrize("kind, data, exported, accepted", RECORDS)
def test_agreement_record(game, kind, data, exported, accepted):
    wine = game.wine
    if kind is None:
        wine.reg_set(AGREEMENT_KEY, "Other", "REG_DWORD", "1")
    elif kind != "absent":
        wine.reg_set(AGREEMENT_KEY, "EULA", kind, data)
    assert wine.reg_exported(AGREEMENT_KEY, "EULA") == exported

    if accepted:
        # The run goes straight on to its steps (and to whatever box they end in) without asking.
        game.add_splash()  # so that the journal has something to show that it was listening
        with wine.watch() as journal:
            launcher = game.start(env=journal.env)
            finish_run(wine, launcher)
        assert not [e for e in journal.events() if e.title == CONSENT_TITLE and e.class_name == WINDOW_CLASS]
        assert [e for e in journal.events() if e.class_name == WINDOW_CLASS], "the journal saw nothing"
    else:
        launcher = game.start()
        assert eventually(lambda: wine.windows(WINDOW_CLASS, CONSENT_TITLE) or launcher.poll() is not None)
        assert launcher.poll() is None, "the launcher ended instead of asking"
        wine.press(CONSENT_TITLE, "Cancel", WINDOW_CLASS)
        assert wait_exit(launcher) == 1
    assert wine.reg_exported(AGREEMENT_KEY, "EULA") == exported
