import time
from harness import eventually, wait_exit
from test_faults import newer_launcher_published

def test_dbg(ready_game, server):
    name = "Temp ^ & (x) ;,=+' Bang!"
    game, wine = ready_game, ready_game.wine
    game.add_stub(1)
    server.publish_stub(game.root / "Foo.exe", game.stub)
    folder = wine.prefix / "drive_c" / name
    folder.mkdir(exist_ok=True)
    newer = newer_launcher_published(server, game)
    windows_folder = "C:\\" + name
    p = game.start(windows_env={"TMP": windows_folder, "TEMP": windows_folder})
    print("exit", wait_exit(p), p.stderr.read()[-2000:])
    time.sleep(8)
    print("replaced", game.launcher.read_bytes() == newer)
    print("folder", list(folder.iterdir()))
    print("game", list(game.root.iterdir()))
    print("requests", server.requests())
    assert False
