// A session of the MCP TypeScript SDK's client with `pelko-computer --mcp`, started the way an
// MCP client's configuration starts it (command, args, env), with what the tests look at: the
// messages on the wire both ways, the log messages, the client's errors, and on a simulated
// desktop its call log and its control channel (the user's hands).
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { LoggingMessageNotificationSchema } from '@modelcontextprotocol/sdk/types.js';

export const computerPath = process.env.PELKO_COMPUTER;
export const examplesDir = process.env.PELKO_EXAMPLES_DIR;
if (!computerPath || !examplesDir)
  throw new Error('PELKO_COMPUTER and PELKO_EXAMPLES_DIR name the program and the examples (ctest sets them)');

/// The bundled sample desktop.
export function sampleScene() {
  return JSON.parse(readFileSync(join(examplesDir, 'scenes', 'desktop.json'), 'utf8'));
}

export class Session {
  /// Starts the program with `env` (a simulated desktop's scene when `scene` is given) and
  /// connects the client.
  static async start({ scene, env = {} } = {}) {
    const session = new Session();
    const serverEnv = { ...env };
    if (scene) {
      session.dir = mkdtempSync(join(tmpdir(), 'pelko-mcp-'));
      writeFileSync(join(session.dir, 'scene.json'), JSON.stringify(scene));
      execFileSync('mkfifo', [join(session.dir, 'control')]);
      Object.assign(serverEnv, {
        PELKO_SCENE: join(session.dir, 'scene.json'),
        PELKO_SIM_LOG: join(session.dir, 'calls.log'),
        PELKO_SIM_CONTROL: join(session.dir, 'control'),
      });
    }
    session.transport = new StdioClientTransport({
      command: computerPath,
      args: ['--mcp'],
      env: serverEnv,
      stderr: 'pipe',
    });
    session.transport.stderr.on('data', (chunk) => { session.stderr += chunk; });
    // The wire, both ways: the client sets its handler just before it starts the transport.
    const start = session.transport.start.bind(session.transport);
    session.transport.start = async () => {
      const handler = session.transport.onmessage;
      session.transport.onmessage = (message, extra) => {
        session.received.push(message);
        handler?.(message, extra);
      };
      return start();
    };
    const send = session.transport.send.bind(session.transport);
    session.transport.send = async (message, options) => {
      session.sent.push(message);
      return send(message, options);
    };
    session.client = new Client({ name: 'pelko-tests', version: '1.0.0' });
    session.client.setNotificationHandler(LoggingMessageNotificationSchema, (notification) => {
      session.logs.push(notification.params);
    });
    session.client.onerror = (error) => session.errors.push(String(error));
    await session.client.connect(session.transport);
    return session;
  }

  constructor() {
    this.received = [];
    this.sent = [];
    this.logs = [];
    this.errors = [];
    this.stderr = '';
  }

  async close() {
    await this.client.close();
    if (this.dir) rmSync(this.dir, { recursive: true, force: true });
  }

  /// Calls a tool and returns its result (a tool error is a result too).
  call(name, args = {}, options = {}) {
    return this.client.callTool({ name, arguments: args }, undefined, options);
  }

  /// The id of the last `tools/call` the client sent.
  lastCallId() {
    return this.sent.filter((message) => message.method === 'tools/call').at(-1).id;
  }

  /// The responses that came for the request `id`.
  responsesTo(id) {
    return this.received.filter((message) => message.id === id && !message.method);
  }

  /// The simulated desktop's call log, one entry a line, without the times.
  calls(name) {
    const path = join(this.dir, 'calls.log');
    if (!existsSync(path)) return [];
    return readFileSync(path, 'utf8').split('\n').filter(Boolean).map((line) => JSON.parse(line))
      .filter((entry) => !name || entry.call === name);
  }

  /// Acts as the user on the simulated desktop.
  control(command) {
    writeFileSync(join(this.dir, 'control'), JSON.stringify(command) + '\n');
  }
}

/// The text of a tool result's content blocks of type text.
export function texts(result) {
  return result.content.filter((block) => block.type === 'text').map((block) => block.text);
}

/// The index of the first outline line that matches `pattern`; 0 when none does.
export function indexOf(outline, pattern) {
  for (const line of outline.split('\n')) {
    const index = line.match(/\[(\d+)\]/);
    if (index && pattern.test(line)) return Number(index[1]);
  }
  return 0;
}

/// Decodes a Base64 JPEG with libjpeg-turbo's djpeg; its size in pixels (djpeg fails on a
/// picture that is not a whole JPEG).
export function decodedJPEGSize(base64) {
  const ppm = execFileSync('djpeg', ['-pnm'],
    { input: Buffer.from(base64, 'base64'), maxBuffer: 1 << 28 });
  const header = ppm.subarray(0, 64).toString('latin1').match(/^P([56])\s+(\d+)\s+(\d+)\s+255\s/);
  if (!header) throw new Error('djpeg wrote no picture');
  const [width, height] = [Number(header[2]), Number(header[3])];
  const channels = header[1] === '6' ? 3 : 1;
  if (ppm.length !== header[0].length + width * height * channels)
    throw new Error('djpeg decoded a picture of the wrong length');
  return { width, height };
}

/// Waits, polling, until `condition()` holds; fails after `seconds`.
export async function until(condition, what, seconds = 30) {
  for (let waited = 0; waited < seconds * 1000; waited += 20) {
    if (condition()) return;
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  throw new Error(`gave up waiting for ${what}`);
}
