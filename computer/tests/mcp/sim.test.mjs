// pelko-computer --mcp on the sample desktop, driven by the MCP TypeScript SDK's client: the
// lifecycle, the tool list and its schemas, every tool with good and bad arguments, pictures,
// cancellation by the client and the user's Escape.
import { describe, test, before, after } from 'node:test';
import assert from 'node:assert/strict';

import Ajv2020 from 'ajv/dist/2020.js';
import { McpError } from '@modelcontextprotocol/sdk/types.js';

import { Session, sampleScene, texts, indexOf, decodedJPEGSize, until } from './session.mjs';

const readOnlyTools = ['find_app', 'list_apps', 'screenshot'];
const allTools = ['choose_menu', 'click', 'find_app', 'get_app_state', 'list_apps',
  'perform_action', 'press_key', 'request_access', 'screenshot', 'scroll', 'set_value',
  'type_text'];

describe('a session on the sample desktop', () => {
  let session;
  before(async () => { session = await Session.start({ scene: sampleScene() }); });
  after(async () => {
    assert.deepEqual(session.errors, [], 'the client took every message the program wrote');
    await session.close();
  });

  test('initialize agrees on the newest revision and names the server', () => {
    const reply = session.received.find((message) => message.id === session.sent[0].id);
    assert.equal(session.sent[0].method, 'initialize');
    assert.equal(reply.result.protocolVersion, session.sent[0].params.protocolVersion);
    assert.equal(reply.result.protocolVersion, '2025-11-25');
    assert.equal(session.client.getServerVersion().name, 'pelko-computer');
    assert.deepEqual(session.client.getServerCapabilities(),
      { tools: { listChanged: false }, logging: {} });
    assert.match(session.client.getInstructions(), /get_app_state/);
  });

  test('tools/list gives every tool a valid schema and says which only read', async () => {
    const { tools } = await session.client.listTools();
    assert.deepEqual(tools.map((tool) => tool.name).sort(), allTools);
    const ajv = new Ajv2020({ strict: true });
    for (const tool of tools) {
      assert.ok(tool.description.length > 10, tool.name);
      const schema = tool.inputSchema;
      assert.equal(schema.type, 'object', tool.name);
      ajv.compile(schema);  // throws on a schema that is not valid JSON Schema 2020-12
      for (const name of schema.required ?? [])
        assert.ok(name in schema.properties, `${tool.name} requires ${name}, which it lacks`);
      for (const [name, property] of Object.entries(schema.properties)) {
        assert.ok(property.type, `${tool.name}.${name} has a type`);
        if ('default' in property)
          assert.ok(ajv.validate(property, property.default), `${tool.name}.${name}'s default`);
      }
      assert.equal(tool.annotations.readOnlyHint, readOnlyTools.includes(tool.name), tool.name);
    }
  });

  test('each tool does its work with good arguments', async () => {
    const apps = JSON.parse(texts(await session.call('list_apps'))[0]).apps;
    assert.ok(apps.some((app) => app.name === 'Notes' && app.windows[0] === 'Groceries'));

    const found = JSON.parse(texts(await session.call('find_app', { app: 'maps' }))[0]);
    assert.deepEqual(found, { name: 'Maps', path: '/System/Applications/Maps.app',
      bundleId: 'com.apple.Maps', running: false });

    const state = await session.call('get_app_state', { app: 'Notes' });
    assert.equal(state.isError, undefined);
    const [facts, outline] = texts(state);
    const described = JSON.parse(facts);
    assert.equal(described.app.name, 'Notes');
    assert.equal(described.tree, undefined, 'the outline comes as text of its own');
    assert.equal(described.count, outline.split('\n').length);
    assert.match(outline, /^\[1\] window "Groceries"/);
    const newNote = indexOf(outline, /button desc="New Note"/);
    const search = indexOf(outline, /search field/);
    const body = indexOf(outline, /textarea/);
    assert.ok(newNote && search && body, outline);

    const results = [
      ['click', { app: 'Notes', index: newNote }, { via: 'press' }],
      ['perform_action', { app: 'Notes', index: newNote, action: 'press' }, { ok: true }],
      ['set_value', { app: 'Notes', index: search, value: 'milk' }, { ok: true }],
      ['type_text', { app: 'Notes', index: body, text: ' Bread' }, { via: 'keys', front: false }],
      ['press_key', { app: 'Notes', key: 'cmd+s' }, { via: 'front', front: false }],
      ['choose_menu', { app: 'Notes', path: ['File', 'New Folder'] }, { ok: true, via: 'pick' }],
      ['request_access', { kind: 'screen' }, { accessibility: true, screenRecording: true }],
    ];
    for (const [name, args, expected] of results) {
      const result = await session.call(name, args);
      assert.equal(result.isError, undefined, `${name}: ${texts(result)}`);
      assert.deepEqual(JSON.parse(texts(result)[0]), expected, name);
    }
    const scrolled = JSON.parse(texts(await session.call('scroll', { app: 'Notes' }))[0]);
    assert.equal(scrolled.via, 'wheel', 'Notes is in front, so the wheel scrolls it');
    assert.ok(session.calls('setAttribute').some((entry) => entry.element === 'notes.search' &&
      entry.attribute === 'AXValue' && entry.value === 'milk'));
  });

  test('a screenshot is a JPEG of the size it states, with its scale and frame', async () => {
    const result = await session.call('screenshot', { app: 'Notes', maxWidth: 450 });
    const [image] = result.content;
    assert.equal(image.type, 'image');
    assert.equal(image.mimeType, 'image/jpeg');
    const facts = JSON.parse(texts(result)[0]);
    assert.deepEqual(facts, { width: 450, height: 320, scale: 0.5,
      window: { x: 100, y: 60, width: 900, height: 640 } });
    assert.deepEqual(decodedJPEGSize(image.data), { width: 450, height: 320 });
  });

  test('bad arguments answer with the method\'s own sentence as a tool error', async () => {
    const cases = [
      ['find_app', {}, 'Give the app\'s name.'],
      ['get_app_state', { app: 5 }, 'Give the app\'s name.'],
      ['click', { app: 'Notes' }, 'Give an element index, or x and y inside the window.'],
      ['click', { app: 'Notes', index: 9999 }, 'Element [9999] is not in the latest state of ' +
        'Notes. Read the app\'s state again and use an index from it.'],
      ['set_value', { app: 'Notes', index: 1 }, 'Give the app, the element index and the value.'],
      ['perform_action', { app: 'Notes' }, 'Give the app, the element index and the action.'],
      ['type_text', { app: 'Notes' }, 'Give the app and the text.'],
      ['press_key', { app: 'Notes', key: 'hyperdrive' }, 'Unknown key "hyperdrive". Use names ' +
        'like Return, Tab, Escape, Up, cmd+s, shift+cmd+t.'],
      ['scroll', {}, 'Give the app\'s name.'],
      ['choose_menu', { app: 'Notes', path: [] }, 'Give the app and the menu path.'],
      ['choose_menu', { app: 'Notes', path: ['File', 'Burn'] }, 'No menu item "Burn" there. ' +
        'The items are: New Note, New Folder, Share, Export as PDF….'],
      ['screenshot', {}, 'Give the app\'s name.'],
    ];
    for (const [name, args, message] of cases) {
      const result = await session.call(name, args);
      assert.equal(result.isError, true, `${name} ${JSON.stringify(args)}`);
      assert.deepEqual(texts(result), [message], `${name} ${JSON.stringify(args)}`);
    }
  });

  test('an app that is nowhere is a tool error that says so', async () => {
    const cases = [
      ['find_app', { app: 'Nowhere' },
        'No app named Nowhere was found on this Mac. list_apps shows the apps that are open.'],
      ['get_app_state', { app: 'Nowhere' }, 'No app named Nowhere was found on this Mac.'],
      ['click', { app: 'Maps', index: 1 }, 'Maps is not open. Call get_app_state for it first ' +
        '(that opens it), then act.'],
    ];
    for (const [name, args, message] of cases) {
      const result = await session.call(name, args);
      assert.equal(result.isError, true, name);
      assert.deepEqual(texts(result), [message], name);
    }
  });

  test('only malformed requests are protocol errors', async () => {
    await assert.rejects(session.call('fly', {}),
      (error) => error instanceof McpError && error.code === -32602 && /Unknown tool fly/.test(error.message));
    await assert.rejects(session.client.request({ method: 'tools/call', params: { name: 'click',
      arguments: ['Notes'] } }, (await import('@modelcontextprotocol/sdk/types.js')).CallToolResultSchema),
    (error) => error instanceof McpError && error.code === -32602);
    await assert.rejects(session.client.listPrompts(),
      (error) => error instanceof McpError && error.code === -32601);
    assert.deepEqual(await session.client.ping(), {});
  });
});

// Typing this into Notes, which is in front, takes over a thousand chunks of keys 20 ms apart;
// the line break keeps the text from being inserted at once.
const longText = 'x'.repeat(8000) + '\n' + 'y'.repeat(8000);

// The chunks of typed keys that reached the desktop.
function typedChunks(session) {
  return session.calls('post').filter((entry) => entry.type === 'keyDown').length;
}

// The banner's showings and hidings (the banner is the panel with a text label).
function bannerCalls(session, call) {
  const banner = session.calls('setLabelText')[0]?.panel;
  return session.calls(call).filter((entry) => entry.panel === banner);
}

describe('stopping a call in flight', () => {
  test('a call the client cancels stops typing and gets no reply', async () => {
    const session = await Session.start({ scene: sampleScene() });
    try {
      const controller = new AbortController();
      const typing = session.call('type_text', { app: 'Notes', text: longText },
        { signal: controller.signal });
      const id = session.lastCallId();
      await until(() => typedChunks(session) >= 3, 'the typing to start');
      controller.abort('changed my mind');
      await assert.rejects(typing);
      assert.ok(session.sent.some((message) => message.method === 'notifications/cancelled' &&
        message.params.requestId === id));
      // The queue is free again: the next call is answered, and the typing has stopped.
      const apps = await session.call('list_apps');
      assert.equal(apps.isError, undefined);
      const typed = typedChunks(session);
      assert.ok(typed < longText.length / 16, `typed ${typed} chunks`);
      await session.call('list_apps');
      assert.equal(typedChunks(session), typed, 'nothing was typed after the stop');
      assert.deepEqual(session.responsesTo(id), [], 'a cancelled call is not answered');
    } finally {
      await session.close();
    }
  });

  test('the user\'s Escape stops the acting call, says so and takes the banner down', async () => {
    const session = await Session.start({ scene: sampleScene() });
    try {
      const screenshot = await session.call('screenshot', { app: 'Notes', maxWidth: 100 });
      assert.equal(screenshot.isError, undefined);
      assert.deepEqual(session.calls('setLabelText'), [], 'a tool that only reads shows no banner');

      const typing = session.call('type_text', { app: 'Notes', text: longText });
      await until(() => typedChunks(session) >= 3, 'the typing to start');
      assert.equal(bannerCalls(session, 'orderFront').length, 1, 'the banner is up while it types');
      session.control({ do: 'key', keyCode: 53 });
      const result = await typing;
      assert.equal(result.isError, true);
      assert.deepEqual(texts(result), ['The user pressed Escape to stop you, so this call was ' +
        'stopped. Do not act on this computer again until the user asks you to.']);
      await until(() => session.logs.length >= 2, 'the log messages');
      assert.deepEqual(session.logs, [
        { level: 'info', logger: 'pelko-computer', data: 'Bringing Notes to the front.' },
        { level: 'warning', logger: 'pelko-computer',
          data: 'The user pressed Escape: type_text was stopped.' }]);
      assert.equal(bannerCalls(session, 'orderOut').length, 1, 'the banner came down');
      const typed = typedChunks(session);
      assert.ok(typed < longText.length / 16, `typed ${typed} chunks`);

      // The program's own Escape (a key it types) stops nothing.
      const pressed = await session.call('press_key', { app: 'Notes', key: 'escape' });
      assert.deepEqual(JSON.parse(texts(pressed)[0]), { via: 'front', front: false });
      await session.client.ping();
      assert.deepEqual(session.logs.filter((log) => log.level === 'warning').length, 1);
    } finally {
      await session.close();
    }
  });
});
