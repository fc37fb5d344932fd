// One task on a real X11 desktop, through the MCP TypeScript SDK's client: GTK's widget factory
// read, its check button clicked and its entry typed into, read back, and pictured. Runs inside
// scripts/desktop-session (ctest starts it there), with the environment an MCP client's
// configuration gives the program: the display and the session bus.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { Session, texts, decodedJPEGSize } from './session.mjs';

const app = 'Widget Factory';

// The first enabled check button's index and state, as the outline shows them.
function checkButton(outline) {
  const line = outline.split('\n').find((text) => /checkbox "checkbutton" \((on|off)\)$/.test(text));
  assert.ok(line, outline);
  const [, index, state] = line.match(/\[(\d+)\] checkbox "checkbutton" \((on|off)\)$/);
  return { index: Number(index), state };
}

test('an agent reads the widget factory, clicks, types and takes its picture',
  { skip: process.env.PELKO_DESKTOP_UNAVAILABLE }, async () => {
    const session = await Session.start({
      env: {
        DISPLAY: process.env.DISPLAY,
        DBUS_SESSION_BUS_ADDRESS: process.env.DBUS_SESSION_BUS_ADDRESS,
        XDG_RUNTIME_DIR: process.env.XDG_RUNTIME_DIR,
      },
    });
    try {
      const outlineOf = async () => {
        const result = await session.call('get_app_state', { app });
        assert.equal(result.isError, undefined, texts(result).join('\n'));
        return texts(result)[1];
      };
      const before = checkButton(await outlineOf());
      const clicked = await session.call('click', { app, index: before.index });
      assert.equal(clicked.isError, undefined, texts(clicked)[0]);
      let after;
      for (let attempt = 0; attempt < 50; ++attempt) {
        after = checkButton(await outlineOf());
        if (after.state !== before.state) break;
      }
      assert.notEqual(after.state, before.state, 'the click flipped the check button');

      const outline = await outlineOf();
      const entry = outline.split('\n').find((line) => /\] field value="entry"$/.test(line));
      assert.ok(entry, outline);
      const index = Number(entry.match(/\[(\d+)\]/)[1]);
      const typed = await session.call('type_text', { app, index, text: 'typed by an agent' });
      assert.deepEqual(JSON.parse(texts(typed)[0]), { via: 'insert' });
      // The text takes the place of the entry's selection.
      assert.match(await outlineOf(), /\] field value="[^"]*typed by an agent"/);

      const picture = await session.call('screenshot', { app, maxWidth: 800 });
      assert.equal(picture.isError, undefined, texts(picture)[0]);
      const facts = JSON.parse(texts(picture)[0]);
      assert.ok(facts.width > 100 && facts.width <= 800, JSON.stringify(facts));
      assert.deepEqual(decodedJPEGSize(picture.content[0].data),
        { width: facts.width, height: facts.height });
      assert.deepEqual(session.errors, []);
    } finally {
      await session.close();
    }
  });
